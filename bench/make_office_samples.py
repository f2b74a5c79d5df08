#!/usr/bin/python3
"""Makes the office benchmark's sources: Word documents of a few pages, each with a table, a
numbered and a bulleted list and an image, and workbooks of two sheets of 5,000 rows with a
few styles and a merged range. Run with the system's Python (python3-docx, python3-openpyxl):

    /usr/bin/python3 bench/make_office_samples.py OUT_FOLDER [DOCUMENTS [WORKBOOKS]]

Documents go to OUT_FOLDER/word/doc001.docx ..., workbooks to OUT_FOLDER/excel/book001.xlsx ...
"""
import os
import random
import struct
import sys
import zlib

from docx import Document
from docx.shared import Cm
from openpyxl import Workbook
from openpyxl.cell import WriteOnlyCell
from openpyxl.styles import Alignment, Font, PatternFill

WORDS = ("merge folder quorvane batch document sheet table image numbered list page section "
         "style font margin header footer office engine package part relationship").split()


def png(width, height, seed):
    """A small RGB gradient, different for every seed, as PNG bytes."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows += bytes(((x * 4 + seed * 7) % 256, (y * 4 + seed * 13) % 256, (seed * 29) % 256))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def sentence(rng, words):
    text = " ".join(rng.choice(WORDS) for _ in range(words))
    return text[0].upper() + text[1:] + "."


def make_document(path, index, image_path):
    rng = random.Random(index)
    doc = Document()
    doc.add_heading(f"Document {index}", level=1)
    for _ in range(5):
        doc.add_paragraph(" ".join(sentence(rng, 14) for _ in range(6)))
    doc.add_heading("Figures", level=2)
    table = doc.add_table(rows=6, cols=4)
    table.style = "Table Grid"
    for r, row in enumerate(table.rows):
        for c, cell in enumerate(row.cells):
            cell.text = f"R{r}C{c} {rng.randint(0, 9999)}" if r else f"Column {c + 1}"
    for i in range(5):
        doc.add_paragraph(f"Step {i + 1}: {sentence(rng, 8)}", style="List Number")
    for i in range(5):
        doc.add_paragraph(sentence(rng, 6), style="List Bullet")
    doc.add_picture(image_path, width=Cm(6))
    for _ in range(8):
        doc.add_paragraph(" ".join(sentence(rng, 14) for _ in range(6)))
    doc.save(path)


def make_workbook(path, index, rows):
    rng = random.Random(1000 + index)
    book = Workbook(write_only=True)
    bold = Font(bold=True, color="FFFFFF")
    fill = PatternFill("solid", fgColor="305496")
    for s in range(2):
        sheet = book.create_sheet(f"Data{s + 1}")
        sheet.column_dimensions["B"].width = 24
        sheet.freeze_panes = "A3"
        title = WriteOnlyCell(sheet, value=f"Workbook {index}, sheet {s + 1}")
        title.font = Font(bold=True, size=14)
        title.alignment = Alignment(horizontal="center")
        sheet.append([title])
        sheet.merged_cells.add("A1:E1")
        heads = []
        for name in ("Id", "Name", "Amount", "Rate", "Total"):
            cell = WriteOnlyCell(sheet, value=name)
            cell.font, cell.fill = bold, fill
            heads.append(cell)
        sheet.append(heads)
        for r in range(3, rows + 3):
            amount = WriteOnlyCell(sheet, value=rng.randint(1, 100000) / 100)
            amount.number_format = "#,##0.00"
            rate = WriteOnlyCell(sheet, value=rng.random())
            rate.number_format = "0.0%"
            sheet.append([r - 2, f"{rng.choice(WORDS)} {rng.choice(WORDS)} {r}", amount, rate,
                          f"=C{r}*D{r}"])
    book.save(path)


def main():
    out = sys.argv[1]
    documents = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    workbooks = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    rows = int(os.environ.get("ROWS", "5000"))
    os.makedirs(os.path.join(out, "word"), exist_ok=True)
    os.makedirs(os.path.join(out, "excel"), exist_ok=True)
    image = os.path.join(out, "image.png")
    for i in range(1, documents + 1):
        with open(image, "wb") as f:
            f.write(png(96, 64, i))
        make_document(os.path.join(out, "word", f"doc{i:03}.docx"), i, image)
    os.remove(image)
    for i in range(1, workbooks + 1):
        make_workbook(os.path.join(out, "excel", f"book{i:03}.xlsx"), i, rows)


if __name__ == "__main__":
    main()
