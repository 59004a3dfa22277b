#!/usr/bin/env python3
"""Reads the shipping list's workbook with openpyxl and checks it against the
CSV it was made from: one sheet "발송목록", the header row frozen, tall and
styled, the fixed column widths, numbers only in the quantity and amount
columns, every other value text with the text style. Prints "ok" or the faults."""

import csv
import re
import sys

import openpyxl
from openpyxl.utils.escape import unescape

WIDTHS = [20, 11, 18, 14, 12, 16, 10, 32, 22, 22, 7, 11, 14, 17]
NUMBER_HEADERS = {"수량", "결제금액"}
PLAIN_INTEGER = re.compile(r"(0|[1-9][0-9]{0,14})")


def expected_value(text, numeric):
    if text == "":
        return None
    if numeric and PLAIN_INTEGER.fullmatch(text):
        return int(text)
    return text.replace("\r\n", "\n").replace("\r", "\n")


def main(xlsx_path, csv_path):
    faults = []

    def check(condition, what):
        if not condition:
            faults.append(what)

    with open(csv_path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    book = openpyxl.load_workbook(xlsx_path)
    check(book.sheetnames == ["발송목록"], f"sheets {book.sheetnames}")
    sheet = book.active
    check(sheet.freeze_panes == "A2", f"freeze panes {sheet.freeze_panes}")
    check(sheet.row_dimensions[1].height == 30, f"header height {sheet.row_dimensions[1].height}")

    header = rows[0]
    for i in range(len(header)):
        letter = openpyxl.utils.get_column_letter(i + 1)
        dimension = sheet.column_dimensions[letter]
        want = WIDTHS[i] if i < len(WIDTHS) else 14
        check(dimension.width == want and dimension.customWidth, f"column {letter} width {dimension.width}")

    for i, name in enumerate(header):
        cell = sheet.cell(row=1, column=i + 1)
        check(cell.value == (name or None), f"header {cell.coordinate} {cell.value!r}")
        check(cell.font.b and cell.font.sz == 11 and cell.font.name == "맑은 고딕", f"header font {cell.coordinate}")
        check(cell.font.color is not None and cell.font.color.rgb == "FF1D2939", f"header colour {cell.coordinate}")
        check(cell.fill.fill_type == "solid" and cell.fill.fgColor.rgb == "FFF5F7FB", f"header fill {cell.coordinate}")
        bottom = cell.border.bottom
        check(bottom.style == "thin" and bottom.color.rgb == "FFD0D5DD", f"header border {cell.coordinate}")
        check(cell.alignment.horizontal == "center", f"header alignment {cell.coordinate}")

    numeric = [name in NUMBER_HEADERS for name in header]
    check(sheet.max_row == len(rows), f"rows {sheet.max_row} for {len(rows)}")
    for r, row in enumerate(rows[1:], start=2):
        for c, text in enumerate(row, start=1):
            cell = sheet.cell(row=r, column=c)
            want = expected_value(text, numeric[c - 1])
            value = cell.value
            # openpyxl decodes the "_xHHHH_" escapes of shared strings only;
            # Excel and LibreOffice decode them in inline strings too.
            if isinstance(value, str):
                value = unescape(value)
            check(value == want and type(value) is type(want),
                  f"{cell.coordinate}: {cell.value!r} for {want!r}")
            if isinstance(want, str):
                check(cell.number_format == "@" and cell.quotePrefix, f"{cell.coordinate} not styled as text")
            if isinstance(want, int):
                check(cell.data_type == "n", f"{cell.coordinate} type {cell.data_type}")

    if faults:
        print("\n".join(faults[:40]))
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
