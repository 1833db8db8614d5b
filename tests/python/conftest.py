import os
import sys

# The model and the generators are plain sibling modules of the tests.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
