"""Prints what openpyxl reads from a workbook, one fact a line, fields split by tabs: for each
sheet in order "sheet NAME KIND" (work or chart), then its cells (REF, VALUE as JSON with dates
as ISO text, FORMAT, BOLD, FILL, BORDER), merged ranges, widths, panes, print area, tables,
conditional formats, links, comments, rows and hidden columns; last "name NAME SCOPE TEXT" for
each defined name, SCOPE a sheet's name or "workbook"."""
import datetime
import json
import sys

import openpyxl


def sheet_lines(sheet):
    if not hasattr(sheet, "iter_rows"):
        return [["sheet", sheet.title, "chart"], ["charts", str(len(sheet._charts))]]
    lines, notes = [["sheet", sheet.title, "work"]], []
    for cell in (c for row in sheet.iter_rows() for c in row):
        value = cell.value
        if isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
            value = value.isoformat()
        if value is not None:
            fill = cell.fill.fgColor.rgb if cell.fill.fill_type == "solid" else ""
            lines.append(["cell", cell.coordinate, json.dumps(value, ensure_ascii=False),
                          cell.number_format, str(bool(cell.font.b)), str(fill),
                          str(cell.border.left.style)])
        if cell.hyperlink is not None:
            notes.append(["link", cell.coordinate, str(cell.hyperlink.target)])
        if cell.comment is not None:
            notes.append(["comment", cell.coordinate, cell.comment.text])
    lines += [["merged", r] for r in sorted(str(r) for r in sheet.merged_cells.ranges)]
    columns = sorted(sheet.column_dimensions.items())
    lines += [["width", key, "%.2f" % dim.width] for key, dim in columns if dim.customWidth]
    lines += [["freeze", sheet.freeze_panes]] if sheet.freeze_panes else []
    lines += [["print_area", str(sheet.print_area)]] if sheet.print_area else []
    lines += [["table", t.name, t.ref, ",".join(c.name for c in t.tableColumns)]
              for t in sheet.tables.values()]
    lines += [["cf", str(f.sqref), rule.type, ",".join(rule.formula),
               str(rule.dxf.fill.bgColor.rgb if rule.dxf and rule.dxf.fill else None)]
              for f in sheet.conditional_formatting for rule in f.rules]
    lines += notes
    lines += [["row", str(key), str(dim.height), str(dim.hidden)]
              for key, dim in sorted(sheet.row_dimensions.items())
              if dim.customHeight or dim.hidden]
    return lines + [["hidden_column", key] for key, dim in columns if dim.hidden]


def name_lines(book):
    if hasattr(book.defined_names, "definedName"):  # openpyxl 3.0: one list, scopes as ids
        return [["name", n.name, "workbook" if n.localSheetId is None
                 else book.sheetnames[int(n.localSheetId)], n.attr_text]
                for n in book.defined_names.definedName]
    scopes = [("workbook", book.defined_names)] + [
        (sheet.title, getattr(sheet, "defined_names", {})) for sheet in book._sheets]
    return [["name", key, scope, value.attr_text] for scope, names in scopes
            for key, value in names.items()]


book = openpyxl.load_workbook(sys.argv[1])
for line in [l for s in book._sheets for l in sheet_lines(s)] + sorted(name_lines(book)):
    print("\t".join(line))
