#!/usr/bin/python3
"""Writes the cells of an export with openpyxl, for comparison with Corvanel's own writer.

Usage: openpyxl_write.py CELLS.jsonl OUT.xlsx [--write-only]

CELLS.jsonl holds one JSON array per line: [row, column, text, text_format]. Reading that
file is not timed; building the workbook and saving it is. Every cell is written as text, as
Corvanel writes it: data type "s" (so "=..." stays text) and number format "@" where the
value was given with a leading apostrophe. Prints {"seconds": S, "cpu_seconds": C, "cells": N}
as JSON: wall-clock and processor time of the timed part.
"""
import json
import sys
import time

import openpyxl
from openpyxl.cell import WriteOnlyCell


def main():
    cells_path, out_path = sys.argv[1], sys.argv[2]
    write_only = "--write-only" in sys.argv[3:]
    with open(cells_path, encoding="utf-8") as f:
        cells = [json.loads(line) for line in f]
    widths = {}
    rows = {}
    for row, column, text, text_format in cells:
        rows.setdefault(row, []).append((column, text, text_format))

    start = time.perf_counter()
    start_cpu = time.process_time()
    book = openpyxl.Workbook(write_only=write_only)
    if write_only:
        sheet = book.create_sheet()
        last = 0
        for row in sorted(rows):
            while last < row - 1:
                sheet.append([])
                last += 1
            values = []
            for column, text, text_format in rows[row]:
                while len(values) < column - 1:
                    values.append(None)
                cell = WriteOnlyCell(sheet, value=text)
                cell.data_type = "s"
                if text_format:
                    cell.number_format = "@"
                values.append(cell)
            sheet.append(values)
            last = row
    else:
        sheet = book.active
        for row in rows:
            for column, text, text_format in rows[row]:
                cell = sheet.cell(row=row, column=column)
                cell.value = text
                cell.data_type = "s"
                if text_format:
                    cell.number_format = "@"
                widths[column] = max(widths.get(column, 0), min(255, len(text)))
        for column, width in widths.items():
            if width > 0:
                sheet.column_dimensions[openpyxl.utils.get_column_letter(column)].width = width
    book.save(out_path)
    seconds = time.perf_counter() - start
    cpu_seconds = time.process_time() - start_cpu
    json.dump({"seconds": seconds, "cpu_seconds": cpu_seconds, "cells": len(cells)}, sys.stdout)


if __name__ == "__main__":
    main()
