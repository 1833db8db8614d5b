"""python -m vardelquin_cli: the same as the console script vardelquin."""

from vardelquin_cli import run

run()
