"""Prints what openpyxl reads from a workbook, one fact a line, fields split by tabs:
  sheet NAME KIND            for each sheet in order (KIND work or chart)
  cell REF VALUE FORMAT BOLD FILL BORDER    for each cell holding something
  merged RANGE / width COLUMN WIDTH / freeze CELL / print_area RANGES / charts COUNT
  table NAME REF COLUMNS / cf RANGE TYPE FORMULAS FILL / link REF TARGET / comment REF TEXT
  row NUMBER HEIGHT HIDDEN / hidden_column COLUMN
  name NAME SCOPE TEXT       for each defined name (SCOPE the sheet's name or "workbook")
VALUE is JSON; dates read as ISO text."""
import datetime
import json
import sys

import openpyxl


def cell_value(value):
    if isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
        return value.isoformat()
    return value


def sheet_lines(sheet):
    if not hasattr(sheet, "iter_rows"):
        yield ["sheet", sheet.title, "chart"]
        yield ["charts", str(len(sheet._charts))]
        return
    yield ["sheet", sheet.title, "work"]
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            fill = cell.fill.fgColor.rgb if cell.fill.fill_type == "solid" else ""
            yield ["cell", cell.coordinate, json.dumps(cell_value(cell.value), ensure_ascii=False),
                   cell.number_format, str(bool(cell.font.b)), str(fill),
                   str(cell.border.left.style)]
    for merged in sorted(str(r) for r in sheet.merged_cells.ranges):
        yield ["merged", merged]
    for key, dim in sorted(sheet.column_dimensions.items()):
        if dim.customWidth:
            yield ["width", key, "%.2f" % dim.width]
    if sheet.freeze_panes:
        yield ["freeze", sheet.freeze_panes]
    if sheet.print_area:
        yield ["print_area", str(sheet.print_area)]
    for table in sheet.tables.values():
        yield ["table", table.name, table.ref, ",".join(c.name for c in table.tableColumns)]
    for formatting in sheet.conditional_formatting:
        for rule in formatting.rules:
            yield ["cf", str(formatting.sqref), rule.type, ",".join(rule.formula),
                   str(rule.dxf.fill.bgColor.rgb if rule.dxf and rule.dxf.fill else None)]
    for row in sheet.iter_rows():
        for cell in row:
            if cell.hyperlink is not None:
                yield ["link", cell.coordinate, str(cell.hyperlink.target)]
            if cell.comment is not None:
                yield ["comment", cell.coordinate, cell.comment.text]
    for key, dim in sorted(sheet.row_dimensions.items()):
        if dim.customHeight or dim.hidden:
            yield ["row", str(key), str(dim.height), str(dim.hidden)]
    for key, dim in sorted(sheet.column_dimensions.items()):
        if dim.hidden:
            yield ["hidden_column", key]


def name_lines(book):
    titles = book.sheetnames
    if hasattr(book.defined_names, "definedName"):  # openpyxl 3.0: one list, scopes as ids
        for name in book.defined_names.definedName:
            scope = "workbook" if name.localSheetId is None else titles[int(name.localSheetId)]
            yield ["name", name.name, scope, name.attr_text]
    else:
        for key, value in book.defined_names.items():
            yield ["name", key, "workbook", value.attr_text]
        for sheet in book._sheets:
            for key, value in getattr(sheet, "defined_names", {}).items():
                yield ["name", key, sheet.title, value.attr_text]


def main():
    book = openpyxl.load_workbook(sys.argv[1])
    for sheet in book._sheets:
        for line in sheet_lines(sheet):
            print("\t".join(line))
    for line in sorted(name_lines(book)):
        print("\t".join(line))


main()
