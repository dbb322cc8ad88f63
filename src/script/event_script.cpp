#include "script/event_script.h"

// Sections: the table's own checks, reading bounded lines, splitting a line into words, reading
// arguments, formatting.

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <istream>
#include <limits>
#include <ostream>
#include <sstream>
#include <system_error>

namespace tarvo {

namespace {

// ---- The table's own checks --------------------------------------------------------------------

constexpr bool table_follows_enum_order() {
  for (std::size_t i = 0; i < kVerbs.size(); ++i) {
    if (static_cast<std::size_t>(kVerbs[i].verb) != i) return false;
  }
  return true;
}

constexpr bool table_rows_are_well_formed() {
  for (const VerbSpec& spec : kVerbs) {
    if (spec.kinds.size() > kMaxArgs) return false;
    for (const char kind : spec.kinds) {
      if (kind != 'h' && kind != 'i' && kind != 's' && kind != 'f') return false;
    }
    std::size_t names = spec.arg_names.empty() ? 0 : 1;
    for (const char c : spec.arg_names) names += c == ' ' ? 1 : 0;
    if (names != spec.kinds.size()) return false;
  }
  return true;
}

static_assert(table_follows_enum_order(), "kVerbs must list the verbs in the order of enum Verb");
static_assert(table_rows_are_well_formed(),
              "each kVerbs row needs kinds from \"hisf\" and one name per argument");

// ---- Reading bounded lines ---------------------------------------------------------------------

// Hands out the input one line at a time, without its line break (LF or CR LF). A line longer
// than kMaxLineBytes raises as soon as the limit is passed, so a huge line is never held in
// memory.
class LineReader {
 public:
  LineReader(std::istream& in, const std::string& file_name) : in_(in), file_name_(file_name) {}

  bool next(std::string& line) {
    line.clear();
    std::streambuf* buffer = in_.rdbuf();
    if (!buffer) return false;
    bool any = false;
    for (;;) {
      const int c = buffer->sbumpc();
      if (c == std::char_traits<char>::eof()) break;
      any = true;
      if (c == '\n') break;
      // One byte more than the limit may be the CR of a CR LF line break.
      if (line.size() > kMaxLineBytes) too_long();
      line.push_back(static_cast<char>(c));
    }
    if (!any) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLineBytes) too_long();
    ++number_;
    if (number_ == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    return true;
  }

  int32_t number() const { return number_; }

 private:
  [[noreturn]] void too_long() const {
    throw ScriptError(file_name_, number_ + 1,
                      "expected a line of at most " + std::to_string(kMaxLineBytes) +
                          " bytes; this one is longer");
  }

  std::istream& in_;
  const std::string& file_name_;
  int32_t number_ = 0;
};

// ---- Splitting a line into words ---------------------------------------------------------------

// Where a line came from, for messages.
struct LineAt {
  const std::string& file_name;
  int32_t line;

  [[noreturn]] void fail(const std::string& message) const {
    throw ScriptError(file_name, line, message);
  }
};

// Script text is printable ASCII separated by spaces or tabs; comments may also hold UTF-8.
// Control bytes are refused everywhere, so that a binary file stops at its first line.
void check_bytes(std::string_view text, const LineAt& at) {
  bool in_comment = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '#') in_comment = true;
    const bool control = (c < 0x20 && c != '\t') || c == 0x7F;
    if (control || (!in_comment && c >= 0x80)) {
      char message[80];
      std::snprintf(message, sizeof message, "expected text, found byte 0x%02X at column %zu", c,
                    i + 1);
      at.fail(message);
    }
  }
}

// The words before the comment: the first kWordSlots are kept, all are counted.
struct Words {
  static constexpr std::size_t kWordSlots = kMaxArgs + 1;
  std::array<std::string_view, kWordSlots> word;
  std::size_t count = 0;
};

Words split_words(std::string_view text) {
  text = text.substr(0, text.find('#'));
  Words words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i == start) break;
    if (words.count < Words::kWordSlots) words.word[words.count] = text.substr(start, i - start);
    ++words.count;
  }
  return words;
}

// A word as a message shows it: quoted, and cut short when long.
std::string quoted(std::string_view word) {
  constexpr std::size_t kShown = 40;
  std::string text(1, '"');
  text.append(word.substr(0, kShown));
  if (word.size() > kShown) text.append("...");
  text.push_back('"');
  return text;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

const VerbSpec& known_verb(std::string_view word, const LineAt& at) {
  if (const VerbSpec* spec = find_verb(word)) return *spec;
  std::string message = "expected a verb such as Form_MouseDown, found " + quoted(word);
  for (const VerbSpec& spec : kVerbs) {
    if (same_ignoring_case(spec.name, word)) {
      message += " (verbs are case-sensitive: " + std::string(spec.name) + ")";
      break;
    }
  }
  at.fail(message);
}

std::string plural(std::size_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

void check_arg_count(const VerbSpec& spec, std::size_t found, const LineAt& at) {
  const std::size_t wanted = spec.arg_count();
  if (found == wanted) return;
  const std::string name(spec.name);
  if (wanted == 0)
    at.fail("expected nothing after " + name + ", found " + plural(found, "argument"));
  at.fail("expected " + plural(wanted, "argument") + " after " + name + " (" +
          std::string(spec.arg_names) + "), found " + std::to_string(found));
}

// ---- Reading arguments -------------------------------------------------------------------------

std::string_view arg_name(const VerbSpec& spec, std::size_t index) {
  std::string_view names = spec.arg_names;
  for (std::size_t i = 0; i < index; ++i) names.remove_prefix(names.find(' ') + 1);
  return names.substr(0, names.find(' '));
}

bool read_whole(std::string_view word, int64_t low, int64_t high, double& value) {
  int64_t n = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), n);
  if (error != std::errc() || end != word.data() + word.size() || n < low || n > high) return false;
  value = static_cast<double>(n);
  return true;
}

// Read straight into a float, so that the decimal text is rounded once, as the writer expects.
bool read_single(std::string_view word, double& value) {
  float f = 0.0f;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), f);
  if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(f)) return false;
  value = f;
  return true;
}

double read_argument(const VerbSpec& spec, std::size_t index, std::string_view word,
                     const LineAt& at) {
  double value = 0.0;
  const ArgKind kind = spec.kind(index);
  bool ok = false;
  const char* wanted = "";
  switch (kind) {
    case ArgKind::Int16:
      ok = read_whole(word, std::numeric_limits<int16_t>::min(),
                      std::numeric_limits<int16_t>::max(), value);
      wanted = "a whole number from -32768 to 32767";
      break;
    case ArgKind::Int32:
      ok = read_whole(word, std::numeric_limits<int32_t>::min(),
                      std::numeric_limits<int32_t>::max(), value);
      wanted = "a whole number from -2147483648 to 2147483647";
      break;
    case ArgKind::Size:
      ok = read_whole(word, 1, kMaxWindowSize, value);
      wanted = "a whole number from 1 to 32767 (no window is larger)";
      break;
    case ArgKind::Single:
      ok = read_single(word, value);
      wanted = "a finite number in single-float range";
      break;
  }
  if (!ok) {
    at.fail("expected " + std::string(arg_name(spec, index)) + " of " + std::string(spec.name) +
            " to be " + wanted + ", found " + quoted(word));
  }
  return value;
}

// The event on a line, or nothing for a blank or comment line.
bool parse_line(std::string_view text, const LineAt& at, ScriptEvent& event) {
  check_bytes(text, at);
  const Words words = split_words(text);
  if (words.count == 0) return false;
  const VerbSpec& spec = known_verb(words.word[0], at);
  check_arg_count(spec, words.count - 1, at);
  event = ScriptEvent{};
  event.verb = spec.verb;
  event.line = at.line;
  event.arg_count = static_cast<uint8_t>(spec.arg_count());
  for (std::size_t i = 0; i < spec.arg_count(); ++i) {
    event.args[i] = read_argument(spec, i, words.word[i + 1], at);
  }
  return true;
}

// ---- Formatting --------------------------------------------------------------------------------

template <typename T>
std::string shortest(T value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string("0");
}

}  // namespace

ArgKind VerbSpec::kind(std::size_t i) const {
  switch (kinds[i]) {
    case 'h':
      return ArgKind::Int16;
    case 'i':
      return ArgKind::Int32;
    case 's':
      return ArgKind::Size;
    default:
      return ArgKind::Single;
  }
}

const VerbSpec& verb_spec(Verb verb) {
  return kVerbs[static_cast<std::size_t>(verb)];
}

const VerbSpec* find_verb(std::string_view name) {
  for (const VerbSpec& spec : kVerbs) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

Verb panel_verb(PanelKind kind, int control) {
  for (const VerbSpec& spec : kVerbs) {
    if (spec.panel == kind && spec.control == control && kind != PanelKind::None) return spec.verb;
  }
  throw std::invalid_argument("panel_verb: the tools panel has no input " +
                              std::to_string(static_cast<int>(kind)) + " on control " +
                              std::to_string(control));
}

ScriptEvent make_event(Verb verb, std::initializer_list<double> args) {
  const VerbSpec& spec = verb_spec(verb);
  if (args.size() != spec.arg_count()) {
    throw std::invalid_argument("make_event: " + std::string(spec.name) + " takes " +
                                plural(spec.arg_count(), "argument") + ", given " +
                                std::to_string(args.size()));
  }
  ScriptEvent event;
  event.verb = verb;
  event.arg_count = static_cast<uint8_t>(args.size());
  std::copy(args.begin(), args.end(), event.args.begin());
  return event;
}

ScriptError::ScriptError(const std::string& file_name, int32_t line, const std::string& message)
    : std::runtime_error(line > 0 ? file_name + ":" + std::to_string(line) + ": " + message
                                  : file_name + ": " + message),
      line_(line) {}

std::vector<ScriptEvent> parse_script(std::istream& in, const std::string& file_name) {
  std::vector<ScriptEvent> events;
  LineReader reader(in, file_name);
  std::string text;
  while (reader.next(text)) {
    ScriptEvent event;
    if (parse_line(text, LineAt{file_name, reader.number()}, event)) events.push_back(event);
  }
  if (in.bad()) throw ScriptError(file_name, 0, "cannot read the file to its end");
  return events;
}

std::vector<ScriptEvent> parse_script_text(std::string_view text, const std::string& file_name) {
  std::istringstream in{std::string(text)};
  return parse_script(in, file_name);
}

std::vector<ScriptEvent> read_script_file(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw ScriptError(path, 0, "expected an event script, found a directory");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw ScriptError(path, 0,
                      "cannot open the event script: " + std::generic_category().message(errno));
  }
  return parse_script(in, path);
}

std::string format_number(ArgKind kind, double value) {
  switch (kind) {
    case ArgKind::Int16:
    case ArgKind::Int32:
    case ArgKind::Size:
      return shortest(static_cast<long long>(value));
    case ArgKind::Single:
      return shortest(static_cast<float>(value));
  }
  return shortest(value);
}

std::string format_line(Verb verb, std::span<const double> args) {
  return format_line(verb_spec(verb).name, args);
}

std::string format_line(std::string_view verb, std::span<const double> args) {
  const VerbSpec* spec = find_verb(verb);
  std::string line(verb);
  for (std::size_t i = 0; i < args.size(); ++i) {
    line += ' ';
    line +=
        spec && i < spec->arg_count() ? format_number(spec->kind(i), args[i]) : shortest(args[i]);
  }
  return line;
}

std::string format_event(const ScriptEvent& event) {
  return format_line(verb_spec(event.verb).name, event.arguments());
}

void write_script(std::ostream& out, std::span<const ScriptEvent> events, std::string_view header) {
  while (!header.empty()) {
    const std::size_t end = header.find('\n');
    out << "# " << header.substr(0, end) << '\n';
    header = end == std::string_view::npos ? std::string_view{} : header.substr(end + 1);
  }
  for (const ScriptEvent& event : events) out << format_event(event) << '\n';
}

}  // namespace tarvo
