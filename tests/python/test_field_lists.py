"""The configuration's fields are listed in several places; every list must be the binding's.

The binding takes its properties and constructor keywords from the core's one table (field_names), and
vardelquin_fields reads them off the class for the tool's line check, the logging package, the examples
and the tests' model. The stubs (also checked by stubtest in test_typing.py), the class's text signature
and the tool's options (with their help texts) spell the list again, so a field added or renamed in one
place and not another fails here. Not checked here: the README's prose and examples, and the core's
record and validation (tests/core/format_config_test.cpp); CONTRIBUTING.md lists every file to touch.
"""
import ast
import inspect
import pathlib
import re

import pytest

import vardelquin_cli
import vardelquin_fields
from vardelquin import FormatConfig
from vardelquin_cli import lines



def constructor_parameters():
    """The constructor's parameters; None where the interpreter shows no text signature of a type (3.9)."""
    try:
        return inspect.signature(FormatConfig).parameters
    except ValueError:
        return None


def properties():
    return tuple(name for name, member in vars(FormatConfig).items() if inspect.isgetsetdescriptor(member))


PARAMETERS = constructor_parameters()
FIELDS = tuple(PARAMETERS) if PARAMETERS is not None else properties()
STUB = pathlib.Path(__file__).resolve().parents[2] / "src" / "python" / "vardelquin-stubs" / "__init__.pyi"


def test_the_binding_lists_the_fields_once_in_one_order():
    config = FormatConfig()
    assert properties() == FIELDS
    assert tuple(re.findall(r"(\w+)=", repr(config))) == FIELDS
    assert len(FIELDS) == 11
    for name in FIELDS:
        assert repr(FormatConfig(**{name: getattr(config, name)})) == repr(config)  # a constructor keyword
    for name, parameter in (PARAMETERS or {}).items():
        if parameter.default is not ...:  # the keywords' defaults are not in the text signature
            assert parameter.default == getattr(config, name)


def test_the_shipped_tuples_are_the_binding_fields():
    assert vardelquin_fields.FIELDS == FIELDS
    assert vardelquin_fields.DELIMITERS + vardelquin_fields.KEYWORDS == FIELDS
    config = FormatConfig()
    assert [getattr(config, name) for name in vardelquin_fields.DELIMITERS] == config.special_chars()


def test_the_stubs_list_the_fields_in_the_binding_order():
    tree = ast.parse(STUB.read_text())
    cls = next(node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "FormatConfig")
    methods = [node for node in cls.body if isinstance(node, ast.FunctionDef)]
    constructor = next(node for node in methods if node.name in ("__new__", "__init__"))
    assert tuple(arg.arg for arg in constructor.args.args[1:]) == FIELDS
    properties = [node.name for node in methods
                  if any(isinstance(d, ast.Name) and d.id == "property" for d in node.decorator_list)]
    assert tuple(properties) == FIELDS


@pytest.mark.parametrize("command", ["dumps", "loads", "check"])
def test_the_tool_offers_every_field_with_the_binding_default(command):
    config = FormatConfig()
    assert tuple(field for field, _, _ in vardelquin_cli.CONFIG_FIELDS) == FIELDS
    assert all(default == getattr(config, field) for field, default, _ in vardelquin_cli.CONFIG_FIELDS)
    parser = vardelquin_cli.build_parser()
    for field in FIELDS:
        option = "--" + field.replace("_", "-")
        assert getattr(parser.parse_args([command, option, "~"]), field) == "~"


@pytest.mark.parametrize("field", FIELDS)
def test_the_tool_checks_every_field_for_line_breaks(field):
    config = FormatConfig(**{field: "a\nb" if field.endswith("_str") else "\n"})
    assert lines.config_line_breaks(config) == field
