#!/usr/bin/python3
"""Reads a .xlsx file with openpyxl and prints its first sheet as JSON.

Usage: read_xlsx.py FILE

Output: {"sheets": N, "max_row": R, "max_column": C,
         "cells": [{"row", "column", "raw", "text", "data_type", "number_format"}, ...],
         "widths": {"A": 12.0, ...}}
Only cells with a value or a number format other than "General" are listed. "raw" is the
value openpyxl reads; "text" is that value with the _xHHHH_ escapes of the file format
decoded the way a spreadsheet program shows them (_x005F_ is a literal underscore).
"""
import json
import re
import sys

import openpyxl

ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def decode(value):
    if not isinstance(value, str):
        return value
    return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), value)


def main():
    book = openpyxl.load_workbook(sys.argv[1])
    sheet = book.worksheets[0]
    cells = []
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None and cell.number_format == "General":
                continue
            cells.append({
                "row": cell.row,
                "column": cell.column,
                "raw": cell.value,
                "text": decode(cell.value),
                "data_type": cell.data_type,
                "number_format": cell.number_format,
            })
    widths = {}
    for letter, dimension in sheet.column_dimensions.items():
        if dimension.customWidth:
            widths[letter] = dimension.width
    json.dump({
        "sheets": len(book.worksheets),
        "max_row": sheet.max_row,
        "max_column": sheet.max_column,
        "cells": cells,
        "widths": widths,
    }, sys.stdout)


if __name__ == "__main__":
    main()
