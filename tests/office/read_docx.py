"""Prints the body paragraph texts of a Word document, as python-docx reads them, as JSON."""
import json
import sys

import docx

document = docx.Document(sys.argv[1])
print(json.dumps([paragraph.text for paragraph in document.paragraphs], ensure_ascii=False))
