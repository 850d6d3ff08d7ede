"""textloom: structured data from network devices' show-command output.

The device operations and the registry functions scripts use; the core
parsers and tables are in ``mirel.textloom.core``.
"""

from mirel.textloom._textloom import (
    ext_dictio,
    extend,
    extend_markup,
    oper_check,
    oper_fill,
    oper_fill_tabular,
)

__all__ = ["oper_check", "oper_fill", "oper_fill_tabular", "extend", "extend_markup", "ext_dictio"]
