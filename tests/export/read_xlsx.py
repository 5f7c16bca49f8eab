#!/usr/bin/python3
"""Reads a .xlsx file with openpyxl and prints its first sheet as JSON.

Usage: read_xlsx.py FILE

Output: {"sheets": N, "max_row": R, "max_column": C,
         "cells": [{"row", "column", "raw", "text", "data_type", "number_format", "shown"}, ...],
         "widths": {"A": 12.0, ...}}
Only cells with a value or a number format other than "General" are listed. "raw" is the
value openpyxl reads; "text" is that value with the _xHHHH_ escapes of the file format
decoded the way a spreadsheet program shows them (_x005F_ is a literal underscore). A date
cell's "raw" is its value in ISO form ("2021-03-01T22:13:50") and its "shown" the text its
number format displays, rendered here for the date and time codes of number formats.
"""
import datetime
import json
import re
import sys

import openpyxl

ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def decode(value):
    if not isinstance(value, str):
        return value
    return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), value)


DATE_CODE = re.compile(r'"[^"]*"|\\.|yyyy|yy|mmmmm|mmmm|mmm|mm|m|dddd|ddd|dd|d|hh|h|ss|s|AM/PM|.',
                       re.IGNORECASE)
MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August", "September",
          "October", "November", "December"]
DAYS = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]


def render(value, number_format):
    """The text a spreadsheet program shows for a date-time value in a date number format."""
    parts = DATE_CODE.findall(number_format)
    codes = [p.lower() if p[0] not in '"\\' and p.isalpha() else p for p in parts]
    twelve = any(p.upper() == "AM/PM" for p in parts)

    def neighbour(at, step):
        k = at + step
        while 0 <= k < len(codes):
            if codes[k][0] in "ymdhs":
                return codes[k]
            k += step
        return ""

    out = []
    for at, code in enumerate(codes):
        if code.startswith('"'):
            out.append(code[1:-1])
        elif code.startswith("\\"):
            out.append(code[1:])
        elif code.upper() == "AM/PM":
            out.append("AM" if value.hour < 12 else "PM")
        elif code in ("m", "mm") and (neighbour(at, -1).startswith("h") or neighbour(at, 1).startswith("s")):
            out.append(str(value.minute).zfill(len(code)))
        elif code in ("m", "mm"):
            out.append(str(value.month).zfill(len(code)))
        elif code == "mmm":
            out.append(MONTHS[value.month - 1][:3])
        elif code == "mmmm":
            out.append(MONTHS[value.month - 1])
        elif code in ("d", "dd"):
            out.append(str(value.day).zfill(len(code)))
        elif code == "ddd":
            out.append(DAYS[value.weekday()][:3])
        elif code == "dddd":
            out.append(DAYS[value.weekday()])
        elif code == "yyyy":
            out.append(str(value.year).zfill(4))
        elif code == "yy":
            out.append(str(value.year % 100).zfill(2))
        elif code in ("h", "hh"):
            hour = (value.hour % 12 or 12) if twelve else value.hour
            out.append(str(hour).zfill(len(code)))
        elif code in ("s", "ss"):
            out.append(str(value.second).zfill(len(code)))
        else:
            out.append(code)
    return "".join(out)


def main():
    book = openpyxl.load_workbook(sys.argv[1])
    sheet = book.worksheets[0]
    cells = []
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None and cell.number_format == "General":
                continue
            value = cell.value
            shown = decode(value)
            if isinstance(value, (datetime.datetime, datetime.date)):
                shown = render(value, cell.number_format)
                value = value.isoformat()
            cells.append({
                "row": cell.row,
                "column": cell.column,
                "raw": value,
                "text": decode(value),
                "data_type": cell.data_type,
                "number_format": cell.number_format,
                "shown": shown,
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
