"""Prints the body paragraph texts of a Word document as python-docx reads them, one a line,
leaving out the empty ones."""
import sys

import docx

for paragraph in docx.Document(sys.argv[1]).paragraphs:
    if paragraph.text:
        print(paragraph.text)
