#pragma once

#include <string>
#include <vector>

namespace quorvane::testing {

/// What a sample Word document holds. Texts should be distinct across the samples of a test,
/// so the order of a joined document can be read back from its text.
struct DocxSample {
  std::vector<std::string> paragraphs;  // body paragraphs, in order
  std::string heading;                  // a "heading 1" paragraph first, when not empty
  std::string heading_style_id = "Heading1";
  std::string note_style_name;          // a paragraph in style id "Note" of this name
  bool image = false;                   // a tiny PNG of colour `image_shade`
  unsigned char image_shade = 0x80;
  bool table = false;                   // the body ends in a 2x2 table
  bool lists = false;                   // a numbered and a bulleted list of two items each
  bool heading_numbering = false;  // "heading 1" to "heading 3" numbered "1", "1.1", "1.1.1" as
                                   // the levels of one list name their styles, and after the
                                   // heading one of level 2 and one of level 3
  bool heading_style_levels = false;  // the heading styles also give their level, as Word
                                      // writes them
  bool open_field = false;         // the body ends inside a field that is never closed
  bool footnote = false;
  bool comment = false;
  bool header_footer = false;
  bool hyperlink = false;
  bool landscape = false;
  bool bookmark = false;                // "Intro" around the first paragraph, and _GoBack
  bool macros = false;                  // a macro-enabled document with a VBA project
  int bodies = 1;  // more: the first bodies - 1 paragraphs each in a w:body of its own, closed
                   // by the page setup, and the rest in the last
  std::string drawing_id = "1";         // the picture's wp:docPr id
  std::string bookmark_id = "0";        // the id of "Intro"
};

/// Writes `sample` as a .docx package to `path`; false with `err` on failure.
bool WriteDocx(const DocxSample& sample, const std::string& path, std::string* err);

/// A valid PNG image of 2x2 pixels in one grey shade.
std::string TinyPng(unsigned char shade);

}  // namespace quorvane::testing
