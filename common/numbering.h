#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/filesystem.h"
#include "common/run_frame.h"

/// The numbered names of the create and rename windows: what their numbering fields mean,
/// how they are checked, the run of numbers, and how a number becomes an item's name.
namespace quorvane {

/// The kind of window whose numbering fields are read. A create window has 从 (txtFrom),
/// 到 (txtTo), 递增量 (txtStep) and 补零 (chkAddZero), and zero-fills to the longer of the 从
/// and 到 texts; a rename window has 从, 递增量, 补零 and 位数 (txtDigits).
enum class NumberingTask { Create, Rename };

/// Goes between the number and the suffix of a file name ("." ) and of a folder name (none).
inline constexpr std::string_view kFileNameSeparator = ".";
inline constexpr std::string_view kFolderNameSeparator = "";

/// The numbering of one run, taken from the window's fields once they passed the checks.
struct NumberingSettings {
  std::string from_text;  // the number texts as typed
  std::string to_text;    // empty in a rename window
  std::string step_text;
  std::int32_t first = 0;  // the values, set by ConvertNumbers in a create run
  std::int32_t last = 0;
  std::int32_t step = 0;
  bool zero_fill = false;
  int width = 0;  // used only with zero fill; within the 16-bit range
  std::string prefix;  // as typed when its box is ticked, else empty
  std::string suffix;
};

/// The numeric test of a number field: optional blanks around an optional sign and decimal
/// digits. Empty or blank text fails, and so does any text with a "." (2.5, 1.0).
bool PassesNumericTest(std::string_view text);

/// The value of a text that passed the numeric test; std::nullopt outside the 32-bit range.
std::optional<std::int32_t> NumberValue(std::string_view text);

/// The same in 64 bits, for sums that must be checked before they are narrowed.
std::optional<std::int64_t> WideNumberValue(std::string_view text);

/// The description, for the general error report, of a number `text` outside the 32-bit
/// range: 数字“3000000000”超出范围（-2147483648 到 2147483647）.
std::string OutOfRangeNumber(std::string_view text);

/// Checks the numbering fields of a `task` window in their order, stopping at the first
/// refusal, and then takes the prefix, the suffix and the zero-fill width into `settings`.
/// Returns how the run ends when it must: Refused after the field's warning and focus, or
/// Failed after the general error report for a width beyond the 16-bit range; std::nullopt
/// when every field passed. Nothing is converted to a 32-bit number yet.
std::optional<RunOutcome> CheckNumbering(RunFrame& frame, NumberingTask task,
                                         NumberingSettings* settings);

/// Converts 到, 递增量 and 从 of a create run, in that order; false, with a description for
/// the general error report, when one lies outside the 32-bit range.
bool ConvertNumbers(NumberingSettings& settings, std::string* err);

/// How many numbers a create run makes: first, first + step, ... for as long as the number
/// does not pass the last one. Counted in 64 bits, so a run that ends at the edge of the
/// 32-bit range ends there. A step of 0, which CheckNumbering refuses, makes none.
long long NumberCount(const NumberingSettings& settings);

/// The number of item `counter` (0 for the first) of a create run.
std::int32_t NumberAt(const NumberingSettings& settings, long long counter);

/// The percentage that ends a create run's progress caption before item `counter` ("44%"):
/// counter × |step| ÷ |first − last| in single precision, to the nearest whole number; 0%
/// when first and last are equal.
std::string ProgressPercentage(const NumberingSettings& settings, long long counter);

/// The number's text: zero-filled to the width when zero fill is on (-5 at width 4 gives
/// 00-5), otherwise its plain decimal text.
std::string MakeNumberText(std::int32_t number, const NumberingSettings& settings);

/// prefix + number text + `separator` + suffix. A file name (kFileNameSeparator) never ends
/// in ".": as Windows stores it, 7 with no suffix is 7, and a suffix of "txt." gives 7.txt.
std::string MakeItemName(std::int32_t number, const NumberingSettings& settings,
                         std::string_view separator);

/// The counter of the item of a create run that `name` names, composed with `separator`;
/// std::nullopt when no item of the run bears that name.
std::optional<long long> ItemCounter(std::string_view name, const NumberingSettings& settings,
                                     std::string_view separator);

/// The counters, in run order, of the items of a create run whose names are taken in
/// `folder`: one read of the folder rather than a lookup for every name of the run.
bool TakenItems(FileSystem& fs, const std::string& folder, const NumberingSettings& settings,
                std::string_view separator, std::vector<long long>* counters, std::string* err);

/// A check box of a numbering window and the controls it governs: `shown` are visible and
/// `enabled` are usable only while it is ticked, and ticking it puts the focus into `focus`.
/// Hidden boxes keep their text; only the tick decides whether it is used. Every box starts
/// unticked, so a window that opens hides and disables what each box governs.
struct GovernedControls {
  std::string check_box;
  std::vector<std::string> shown;
  std::vector<std::string> enabled;
  std::string focus;
};

/// The governing check boxes of a `task` window: 模板 (create windows), prefix, suffix, and
/// 补零 with its 位数 (rename windows).
const std::vector<GovernedControls>& NumberingCheckBoxes(NumberingTask task);

}  // namespace quorvane
