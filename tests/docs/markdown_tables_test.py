"""Every Markdown table of the README and docs/ has as many cells in each row
as in its header: a row with one more or one less is not rendered as a table.

    python3 markdown_tables_test.py FILE...
"""

import re
import sys


def cells(line):
    # A pipe escaped with a backslash is part of a cell.
    return len(re.split(r"(?<!\\)\|", line.strip().strip("|")))


def table_faults(path):
    faults = []
    header = None
    with open(path, encoding="utf-8") as text:
        for number, line in enumerate(text, 1):
            if not line.lstrip().startswith("|"):
                header = None
                continue
            if header is None:
                header = cells(line)
            elif cells(line) != header:
                faults.append(f"{path}:{number}: {cells(line)} cells, the header has {header}")
    return faults


faults = [fault for path in sys.argv[1:] for fault in table_faults(path)]
print("\n".join(faults) or f"{len(sys.argv) - 1} files: every table row has its header's cells")
sys.exit(1 if faults else 0)
