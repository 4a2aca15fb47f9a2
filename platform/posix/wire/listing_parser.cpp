#include "posix/wire/listing_parser.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "common/ascii.h"
#include "posix/wire/calendar.h"
#include "posix/wire/digits.h"
#include "posix/wire/list_dialects.h"
#include "posix/wire/list_fields.h"

namespace quorvane::client {
namespace {

using text::equalsIgnoringCase;

// Every LIST line is tried as a Unix one first: its first field is looked up
// in a table, not searched for in a set of letters.
constexpr auto kPermissionLetters = [] {
    std::array<bool, 256> letters{};
    for (const char c : std::string_view("-rwxsStTlL"))
        letters[static_cast<unsigned char>(c)] = true;
    return letters;
}();

bool isPermissions(std::string_view text)
{
    if (text.size() != 10 &&
        !(text.size() == 11 && (text[10] == '+' || text[10] == '@' || text[10] == '.')))
        return false;
    if (std::string_view("-dlbcpsD").find(text[0]) == std::string_view::npos)
        return false;
    return std::all_of(text.begin() + 1, text.begin() + 10,
                       [](char c) { return kPermissionLetters[static_cast<unsigned char>(c)]; });
}

// The size column before the date: bytes, or a device's "major, minor" (size 0).
bool parseUnixSize(const Tokens& tokens, std::size_t monthIndex, std::uint64_t& size, bool& valid)
{
    const std::string_view last = tokens[monthIndex - 1].text;
    valid = true;
    if (isDigits(last)) {
        const bool device =
            monthIndex >= 3 && tokens[monthIndex - 2].text.size() > 1 &&
            tokens[monthIndex - 2].text.back() == ',' &&
            isDigits(tokens[monthIndex - 2].text.substr(0, tokens[monthIndex - 2].text.size() - 1));
        if (device) {
            size = 0;
            return true;
        }
        const auto bytes = parseDecimal(last);
        valid = bytes.has_value();  // a size past 64 bits
        size = bytes.value_or(0);
        return true;
    }
    const std::size_t comma = last.find(',');
    if (comma != std::string_view::npos && isDigits(last.substr(0, comma)) &&
        isDigits(last.substr(comma + 1))) {
        size = 0;
        return true;
    }
    return false;
}

}  // namespace

LineResult parseMlsdLine(std::string_view line, ListingEntry& entry)
{
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || space + 1 == line.size())
        return LineResult::Malformed;
    entry = {};
    entry.name = line.substr(space + 1);
    const char* own = nullptr;  // "." or "..", whatever the server calls them
    std::string_view facts = line.substr(0, space);
    while (!facts.empty()) {
        const std::size_t semicolon = facts.find(';');
        const std::string_view fact = facts.substr(0, semicolon);
        facts =
            semicolon == std::string_view::npos ? std::string_view() : facts.substr(semicolon + 1);
        if (fact.empty())
            continue;
        const std::size_t equals = fact.find('=');
        if (equals == std::string_view::npos)
            return LineResult::Malformed;
        const std::string_view name = fact.substr(0, equals);
        const std::string_view value = fact.substr(equals + 1);
        if (equalsIgnoringCase(name, "type")) {
            // The folder's own entry and its parent's, named as LIST names them.
            if (equalsIgnoringCase(value, "cdir") || equalsIgnoringCase(value, "pdir")) {
                own = equalsIgnoringCase(value, "cdir") ? "." : "..";
                entry.directory = true;
                continue;
            }
            entry.directory = entry.directory || equalsIgnoringCase(value, "dir");
        } else if (equalsIgnoringCase(name, "size") || equalsIgnoringCase(name, "sizd")) {
            const auto size = parseDecimal(value);
            if (!size)
                return LineResult::Malformed;
            entry.size = *size;
        } else if (equalsIgnoringCase(name, "modify")) {
            // YYYYMMDDHHMMSS, optionally followed by a fraction of a second.
            const std::string_view whole = value.substr(0, value.find('.'));
            if (whole.size() != 14 || !isDigits(whole) ||
                (whole.size() < value.size() && !isDigits(value.substr(15))))
                return LineResult::Malformed;
            auto field = [&](std::size_t at, std::size_t length) {
                return static_cast<int>(*parseDecimal(whole.substr(at, length)));
            };
            entry.modified = secondsOf(field(0, 4), field(4, 2), field(6, 2), field(8, 2),
                                       field(10, 2), field(12, 2));
            if (!entry.modified)
                return LineResult::Malformed;
        }
    }
    if (own)
        entry.name = own;
    return LineResult::Parsed;
}

namespace {

// The entry of a Unix line whose date begins at field `i`, or nothing when
// the fields there are not a date after a size.
std::optional<LineResult> unixEntryAt(std::string_view line, const Tokens& tokens, std::size_t i,
                                      const ServerClock& now, ListingEntry& entry)
{
    const auto month = monthOf(tokens[i].text);
    if (!month)
        return std::nullopt;
    const auto day = smallNumber(tokens[i + 1].text, 1, 2);
    if (!day)
        return std::nullopt;
    std::uint64_t size = 0;
    bool sizeValid = true;
    if (!parseUnixSize(tokens, i, size, sizeValid))
        return std::nullopt;
    const std::string_view yearOrClock = tokens[i + 2].text;
    int hour = 0, minute = 0;
    std::optional<std::int64_t> modified;
    const bool clock = parseClock(yearOrClock, hour, minute);
    if (clock)
        modified = placeYearless(*month, *day, hour, minute, now);
    else if (const auto year = smallNumber(yearOrClock, 4, 4))
        modified = secondsOf(*year, *month, *day, 0, 0);
    else
        return std::nullopt;
    // The name follows the date after exactly one space, and may itself
    // begin, hold or end with spaces.
    const std::size_t nameStart = tokens[i + 2].end + 1;
    if (!sizeValid || !modified || nameStart >= line.size())
        return LineResult::Malformed;
    // Every field set, none cleared first: this runs for every line.
    entry.name.assign(line.substr(nameStart));
    entry.size = size;
    entry.modified = modified;
    entry.timeOfDay = clock;
    entry.directory = tokens[0].text[0] == 'd';
    if (tokens[0].text[0] == 'l') {
        const std::size_t arrow = entry.name.find(" -> ");
        if (arrow != std::string::npos)
            entry.name.resize(arrow);
    }
    return entry.name.empty() ? LineResult::Malformed : LineResult::Parsed;
}

}  // namespace

LineResult parseUnixLine(std::string_view line, const ServerClock& now, ListingEntry& entry)
{
    if (line.substr(0, 6) == "total ") {
        const auto count = tokenize(line.substr(6), 2);
        if (count.size() == 1 && isDigits(count[0].text))
            return LineResult::Ignored;
    }
    // The date follows the size, which follows at least the link count (or
    // an owner): anchored there, an owner named "jan" or "may", a group of 31
    // or less and a size such as 2024 are never read as a date. Most lines
    // have it by their eighth field, and are not split past it.
    std::size_t from = 3;
    for (const std::size_t fields : {std::size_t{8}, Tokens::kMax}) {
        const auto tokens = tokenize(line, fields);
        if (tokens.size() < 2 || !isPermissions(tokens[0].text))
            return LineResult::NotMine;
        for (; from + 2 < tokens.size(); ++from)
            if (const auto result = unixEntryAt(line, tokens, from, now, entry))
                return *result;
        if (tokens.size() < fields)
            break;
    }
    return LineResult::Malformed;
}

LineResult parseDosLine(std::string_view line, ListingEntry& entry)
{
    const auto tokens = tokenize(line, 5);
    if (tokens.empty())
        return LineResult::NotMine;
    // MM-DD-YY or MM-DD-YYYY.
    const std::string_view date = tokens[0].text;
    if (date.size() < 8 || date[2] != '-' || date[5] != '-')
        return LineResult::NotMine;
    const auto month = smallNumber(date.substr(0, 2), 2, 2);
    const auto day = smallNumber(date.substr(3, 2), 2, 2);
    const auto year = smallNumber(date.substr(6), 2, 4);
    if (!month || !day || !year || date.size() == 9)
        return LineResult::NotMine;
    if (tokens.size() < 4)
        return LineResult::Malformed;

    // HH:MM (24-hour), hh:mmAM, or hh:mm followed by AM or PM.
    std::size_t next = 2;
    std::string_view clock = tokens[1].text;
    std::string_view meridiem;
    if (clock.size() > 2 && (clock.back() == 'M' || clock.back() == 'm')) {
        meridiem = clock.substr(clock.size() - 2);
        clock.remove_suffix(2);
    } else if (equalsIgnoringCase(tokens[2].text, "AM") ||
               equalsIgnoringCase(tokens[2].text, "PM")) {
        meridiem = tokens[2].text;
        next = 3;
    }
    int hour = 0, minute = 0;
    if (!parseClock(clock, hour, minute))
        return LineResult::Malformed;
    if (!meridiem.empty()) {
        const bool pm = equalsIgnoringCase(meridiem, "PM");
        if ((!pm && !equalsIgnoringCase(meridiem, "AM")) || hour < 1 || hour > 12)
            return LineResult::Malformed;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    if (next + 1 >= tokens.size())
        return LineResult::Malformed;

    entry = {};
    const std::string_view sizeOrDir = tokens[next].text;
    if (sizeOrDir == "<DIR>") {
        entry.directory = true;
    } else if (const auto size = parseDecimal(sizeOrDir)) {
        entry.size = *size;
    } else {
        return LineResult::Malformed;
    }
    const std::size_t nameStart = line.find_first_not_of(' ', tokens[next].end);
    entry.name = line.substr(nameStart);
    entry.modified = secondsOf(fullYear(*year, date.size() - 6), *month, *day, hour, minute);
    entry.timeOfDay = true;
    return entry.modified ? LineResult::Parsed : LineResult::Malformed;
}

namespace {

using DialectParser = LineResult (*)(std::string_view, const ServerClock&, ListingEntry&);

// Most dialects carry the year in every date and need no clock.
template <LineResult (*Parse)(std::string_view, ListingEntry&)>
LineResult withoutClock(std::string_view line, const ServerClock&, ListingEntry& entry)
{
    return Parse(line, entry);
}

// The dialects in the order they are tried, those with the surest first
// field first.
constexpr std::array<DialectParser, 9> kDialects = {withoutClock<parseEplfLine>,
                                                    parseUnixLine,
                                                    parseNetwareLine,
                                                    withoutClock<parseDosLine>,
                                                    withoutClock<parseOs2Line>,
                                                    withoutClock<parseVmsLine>,
                                                    withoutClock<parseOs400Line>,
                                                    withoutClock<parseTandemLine>,
                                                    withoutClock<parseMvsLine>};

}  // namespace

LineResult parseListLine(std::string_view line, const ServerClock& now, ListingEntry& entry)
{
    for (const DialectParser parse : kDialects)
        if (const LineResult result = parse(line, now, entry); result != LineResult::NotMine)
            return result;
    return LineResult::NotMine;
}

namespace {

// As a fresh entry, but with the name's memory kept for the next line.
void startOver(ListingEntry& entry)
{
    entry.name.clear();
    entry.size = 0;
    entry.directory = false;
    entry.modified.reset();
    entry.timeOfDay = false;
}

}  // namespace

bool ListingParser::joinVmsLines(std::string_view& line)
{
    if (format_ != ListingFormat::List)
        return true;
    if (!vmsName_.empty()) {
        vmsName_.append(" ").append(line);
        line = vmsName_;
        return true;
    }
    if (!isVmsNameAlone(line))
        return true;
    vmsName_.assign(line);
    return false;  // waits for its details
}

void ListingParser::parseLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.empty() || !joinVmsLines(line))
        return;
    startOver(entry_);
    const LineResult result = format_ == ListingFormat::Mlsd ? parseMlsdLine(line, entry_)
                                                             : parseListLine(line, now_, entry_);
    if (result == LineResult::Parsed) {
        ++stats_.parsed;
        onEntry_(entry_);
    } else if (result == LineResult::Ignored) {
        ++stats_.ignored;
    } else {
        notUnderstood(line);
    }
    vmsName_.clear();  // `line` may have pointed into it
}

void ListingParser::notUnderstood(std::string_view line)
{
    // Enough of it to recognise; the transcript escapes and cuts it again.
    constexpr std::size_t kShown = 300;
    if (stats_.unparsed++ == 0)
        stats_.firstUnparsed.assign(line.substr(0, kShown));
}

void ListingParser::feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
        const bool complete = end != std::string_view::npos;

        if (!skippingLong_ && partial_.size() + piece.size() > kMaxLine) {
            skippingLong_ = true;
            notUnderstood(partial_.empty() ? piece : std::string_view(partial_));
            partial_.clear();
            partial_.shrink_to_fit();
        }
        if (skippingLong_) {
            skippingLong_ = !complete;
        } else if (!complete) {
            partial_.append(piece);
        } else if (partial_.empty()) {
            parseLine(piece);  // the common case: a whole line, no copy
        } else {
            partial_.append(piece);
            parseLine(partial_);
            partial_.clear();
        }
    }
}

void ListingParser::finish()
{
    if (!skippingLong_ && !partial_.empty())
        parseLine(partial_);
    partial_.clear();
    skippingLong_ = false;
    if (!vmsName_.empty())
        notUnderstood(vmsName_);  // a name whose details never came
    vmsName_.clear();
}

}  // namespace quorvane::client
