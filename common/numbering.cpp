#include "common/numbering.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "common/functions.h"

namespace quorvane {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The sign and digits of a numeric text, without the blanks around them.
std::string_view Core(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// For a text that passed the numeric test: 0, -0, +000.
bool IsZero(std::string_view text) {
  return Core(text).find_first_not_of("+-0") == std::string_view::npos;
}

std::string OutOfRange(std::string_view text, long long low, long long high) {
  return "数字“" + std::string(text) + "”超出范围（" + std::to_string(low) + " 到 " +
         std::to_string(high) + "）";
}

constexpr long long kWidthLimit = std::numeric_limits<std::int16_t>::max();

}  // namespace

bool PassesNumericTest(std::string_view text) {
  std::string_view core = Core(text);
  if (!core.empty() && (core.front() == '+' || core.front() == '-')) core.remove_prefix(1);
  return !core.empty() && core.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<std::int64_t> WideNumberValue(std::string_view text) {
  const std::string_view core = Core(text);
  const bool negative = core.front() == '-';
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;  // the size of the lowest value
  std::uint64_t value = 0;
  for (char c : core.substr(core.front() == '+' || negative ? 1 : 0)) {
    if (value > (kLimit - static_cast<std::uint64_t>(c - '0')) / 10) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (negative) return value == kLimit ? std::numeric_limits<std::int64_t>::min()
                                       : -static_cast<std::int64_t>(value);
  if (value == kLimit) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

std::optional<std::int32_t> NumberValue(std::string_view text) {
  const auto value = WideNumberValue(text);
  if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
      *value > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

std::string OutOfRangeNumber(std::string_view text) {
  return OutOfRange(text, std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max());
}

std::optional<RunOutcome> CheckNumbering(RunFrame& frame, NumberingTask task,
                                         NumberingSettings* settings) {
  TaskUi& ui = frame.ui();
  const bool create = task == NumberingTask::Create;
  settings->from_text = ui.Text("txtFrom");
  if (!PassesNumericTest(settings->from_text)) return frame.Refuse("请输入整数！", "txtFrom");
  if (create) {
    settings->to_text = ui.Text("txtTo");
    if (!PassesNumericTest(settings->to_text)) return frame.Refuse("请输入整数！", "txtTo");
  }
  settings->zero_fill = ui.Checked("chkAddZero");
  if (!create && settings->zero_fill) {
    const std::string digits = ui.Text("txtDigits");
    if (!PassesNumericTest(digits)) return frame.Refuse("位数只能是正整数！", "txtDigits");
    const auto width = NumberValue(digits);
    if (!width || *width < -kWidthLimit - 1 || *width > kWidthLimit)
      return frame.Fail(OutOfRange(digits, -kWidthLimit - 1, kWidthLimit));
    if (*width < 1) return frame.Refuse("位数只能是正整数！", "txtDigits");
    settings->width = *width;
  }
  settings->step_text = ui.Text("txtStep");
  if (!PassesNumericTest(settings->step_text)) return frame.Refuse("递增量只能是整数！");
  // A step of 0 would make one name again and again, or give every item the same name.
  if (IsZero(settings->step_text)) return frame.Refuse("递增量不能为零！", "txtStep");

  settings->prefix = ui.Checked("chkPre") ? ui.Text("txtPre") : std::string();
  settings->suffix = ui.Checked("chkSuf") ? ui.Text("txtSuf") : std::string();
  if (create && settings->zero_fill) {
    const size_t width = std::max(settings->from_text.size(), settings->to_text.size());
    if (width > static_cast<size_t>(kWidthLimit))
      return frame.Fail("补零位数 " + std::to_string(width) + " 超出范围（最大 " +
                        std::to_string(kWidthLimit) + "）");
    settings->width = static_cast<int>(width);
  }
  return std::nullopt;
}

bool ConvertNumbers(NumberingSettings& settings, std::string* err) {
  const std::pair<const std::string*, std::int32_t*> order[] = {
      {&settings.to_text, &settings.last},
      {&settings.step_text, &settings.step},
      {&settings.from_text, &settings.first}};
  for (const auto& [text, value] : order) {
    const auto converted = NumberValue(*text);
    if (!converted) {
      *err = OutOfRangeNumber(*text);
      return false;
    }
    *value = *converted;
  }
  return true;
}

long long NumberCount(const NumberingSettings& settings) {
  const long long first = settings.first, last = settings.last, step = settings.step;
  if (step > 0) return last < first ? 0 : (last - first) / step + 1;
  if (step < 0) return first < last ? 0 : (first - last) / -step + 1;
  return 0;
}

std::int32_t NumberAt(const NumberingSettings& settings, long long counter) {
  return static_cast<std::int32_t>(settings.first + counter * settings.step);
}

std::string ProgressPercentage(const NumberingSettings& settings, long long counter) {
  const double span =
      std::abs(static_cast<double>(settings.first) - static_cast<double>(settings.last));
  const float part = span == 0 ? 0.0f
                               : static_cast<float>(static_cast<double>(counter) *
                                                    std::abs(static_cast<double>(settings.step)) /
                                                    span);
  return std::to_string(std::lround(static_cast<double>(part) * 100.0)) + "%";
}

std::string MakeNumberText(std::int32_t number, const NumberingSettings& settings) {
  return settings.zero_fill ? AddZero(number, settings.width) : std::to_string(number);
}

std::string MakeItemName(std::int32_t number, const NumberingSettings& settings,
                         std::string_view separator) {
  std::string name = settings.prefix + MakeNumberText(number, settings);
  name += separator;
  name += settings.suffix;
  if (separator == kFileNameSeparator)
    while (name.ends_with('.')) name.pop_back();  // the number text ends in a digit
  return name;
}

// A name is prefix + number text + tail, where the tail (separator and suffix) loses its
// final dots in a file name; the number text ends in a digit, so it never loses any. The
// number is read loosely and the name composed again, which settles zero fill and signs.
std::optional<long long> ItemCounter(std::string_view name, const NumberingSettings& settings,
                                     std::string_view separator) {
  std::string tail = std::string(separator) + settings.suffix;
  if (separator == kFileNameSeparator)
    while (tail.ends_with('.')) tail.pop_back();
  if (name.size() <= settings.prefix.size() + tail.size() || !name.starts_with(settings.prefix) ||
      !name.ends_with(tail) || settings.step == 0)
    return std::nullopt;
  std::string_view text =
      name.substr(settings.prefix.size(), name.size() - settings.prefix.size() - tail.size());
  const auto significant = text.find_first_not_of('0');
  text = significant == std::string_view::npos ? "0" : text.substr(significant);
  long long number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() ||
      number < std::numeric_limits<std::int32_t>::min() ||
      number > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  const long long offset = number - settings.first;
  const long long counter = offset / settings.step;
  if (offset % settings.step != 0 || counter < 0 || counter >= NumberCount(settings) ||
      MakeItemName(static_cast<std::int32_t>(number), settings, separator) != name)
    return std::nullopt;
  return counter;
}

bool TakenItems(FileSystem& fs, const std::string& folder, const NumberingSettings& settings,
                std::string_view separator, std::vector<long long>* counters, std::string* err) {
  std::vector<std::string> names;
  if (!fs.ListEntries(folder, &names, err)) return false;
  for (const auto& name : names)
    if (const auto counter = ItemCounter(name, settings, separator)) counters->push_back(*counter);
  std::sort(counters->begin(), counters->end());
  return true;
}

const std::vector<GovernedControls>& NumberingCheckBoxes(NumberingTask task) {
  static const std::vector<GovernedControls> kCreate = {
      {"chkMod", {"txtModPath"}, {"cmdModBrowse"}, "txtModPath"},
      {"chkPre", {"txtPre"}, {}, "txtPre"},
      {"chkSuf", {"txtSuf"}, {}, "txtSuf"}};
  static const std::vector<GovernedControls> kRename = {
      {"chkPre", {"txtPre"}, {}, "txtPre"},
      {"chkSuf", {"txtSuf"}, {}, "txtSuf"},
      {"chkAddZero", {"labDigits", "txtDigits"}, {}, "txtDigits"}};
  return task == NumberingTask::Create ? kCreate : kRename;
}

}  // namespace quorvane
