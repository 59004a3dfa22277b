#!/usr/bin/env python3
"""The peer of the shipping-list benchmark: Python's xlsxwriter reads the same
CSV and writes the same sheet (numbers in the quantity and amount columns, text
elsewhere, the same widths, a styled and frozen header). Prints the mean
seconds of one conversion, timed inside the interpreter so that its start-up
and imports are not counted against it."""

import csv
import re
import sys
import time

import xlsxwriter

WIDTHS = [20, 11, 18, 14, 12, 16, 10, 32, 22, 22, 7, 11, 14, 17]
NUMBER_HEADERS = {"수량", "결제금액"}
PLAIN_INTEGER = re.compile(r"(0|[1-9][0-9]{0,14})")


def convert(csv_path, out_path):
    with open(csv_path, newline="", encoding="utf-8-sig") as f:
        rows = [row for row in csv.reader(f) if row != [""] and row != []]
    book = xlsxwriter.Workbook(out_path)
    sheet = book.add_worksheet("발송목록")
    header_format = book.add_format({"bold": True, "font_color": "#1D2939", "bg_color": "#F5F7FB",
                                     "bottom": 1, "bottom_color": "#D0D5DD", "align": "center",
                                     "font_name": "맑은 고딕"})
    text_format = book.add_format({"num_format": "@", "font_name": "맑은 고딕"})
    header = rows[0]
    numeric = [name in NUMBER_HEADERS for name in header]
    for i in range(len(header)):
        width = WIDTHS[i] if i < len(WIDTHS) else 14
        sheet.set_column(i, i, width, None if numeric[i] else text_format)
    sheet.set_row(0, 30)
    sheet.freeze_panes(1, 0)
    for c, name in enumerate(header):
        sheet.write_string(0, c, name, header_format)
    for r, row in enumerate(rows[1:], start=1):
        for c, text in enumerate(row[:40]):
            if text == "":
                continue
            if c < len(numeric) and numeric[c] and PLAIN_INTEGER.fullmatch(text):
                sheet.write_number(r, c, int(text))
            else:
                sheet.write_string(r, c, text, text_format)
    book.close()


def main(csv_path, out_path, repeats):
    total = 0.0
    for _ in range(repeats):
        start = time.perf_counter()
        convert(csv_path, out_path)
        total += time.perf_counter() - start
    print(f"{total / repeats:.6f}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]))
