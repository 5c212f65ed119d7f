// Parsing of the simulator's operator commands.
#include "commandparser.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "registermap.h"

namespace qr7215sim {

namespace {

std::vector<std::string> splitWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : line) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Accepts decimal or 0x hexadecimal, no sign, at most 9 digits (so that any
// accepted number fits an int and range checks are plain comparisons).
bool parseNumber(const std::string& text, long& out)
{
    int base = 10;
    size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    }
    if (start >= text.size() || text.size() - start > 9)
        return false;
    long value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return false;
        value = value * base + digit;
    }
    out = value;
    return true;
}

parseResult refuse(const std::string& why)
{
    parseResult r;
    r.error = why;
    return r;
}

parseResult accept(commandKind kind, int reg = 0, int value = 0)
{
    parseResult r;
    r.ok = true;
    r.command.kind = kind;
    r.command.reg = reg;
    r.command.value = value;
    return r;
}

// Parses a register argument; the error text is set when it is refused.
bool parseRegister(const std::string& text, int& reg, std::string& error)
{
    long n = 0;
    if (!parseNumber(text, n)) {
        error = "register \"" + text + "\" is not a number";
        return false;
    }
    if (!findRegister(static_cast<int>(n))) {
        error = "register " + std::to_string(n) + " does not exist";
        return false;
    }
    reg = static_cast<int>(n);
    return true;
}

bool parseRanged(const std::string& text, const char* what, long low, long high, int& out,
                 std::string& error)
{
    long n = 0;
    if (!parseNumber(text, n)) {
        error = std::string(what) + " \"" + text + "\" is not a number";
        return false;
    }
    if (n < low || n > high) {
        error = std::string(what) + " " + std::to_string(n) + " is out of " + std::to_string(low)
                + ".." + std::to_string(high);
        return false;
    }
    out = static_cast<int>(n);
    return true;
}

std::string arity(const std::string& usage)
{
    return "usage: " + usage;
}

parseResult parseFault(const std::vector<std::string>& w)
{
    if (w.size() < 2)
        return refuse(arity("fault timeout|delay MS|crc|exception CODE|none"));
    const std::string kind = lower(w[1]);
    std::string error;
    int n = 0;
    if (kind == "delay" || kind == "exception") {
        if (w.size() != 3)
            return refuse(arity(kind == "delay" ? "fault delay MS" : "fault exception CODE"));
        if (kind == "delay") {
            if (!parseRanged(w[2], "delay", 0, kMaxFaultDelayMs, n, error))
                return refuse(error);
            return accept(commandKind::faultDelay, 0, n);
        }
        if (!parseRanged(w[2], "exception code", 1, 255, n, error))
            return refuse(error);
        return accept(commandKind::faultException, 0, n);
    }
    if (w.size() != 2 && (kind == "timeout" || kind == "crc" || kind == "none"))
        return refuse(arity("fault " + kind));
    if (kind == "timeout")
        return accept(commandKind::faultTimeout);
    if (kind == "crc")
        return accept(commandKind::faultCrc);
    if (kind == "none")
        return accept(commandKind::faultNone);
    return refuse("unknown fault \"" + w[1] + "\" (timeout, delay, crc, exception or none)");
}

} // namespace

parseResult parseCommand(const std::string& line)
{
    const std::vector<std::string> w = splitWords(line);
    if (w.empty())
        return refuse("empty command");
    const std::string verb = lower(w[0]);
    std::string error;

    if (verb == "set") {
        if (w.size() != 3)
            return refuse(arity("set REG VALUE"));
        int reg = 0;
        int value = 0;
        if (!parseRegister(w[1], reg, error) || !parseRanged(w[2], "value", 0, 65535, value, error))
            return refuse(error);
        return accept(commandKind::set, reg, value);
    }
    if (verb == "get") {
        if (w.size() != 2)
            return refuse(arity("get REG"));
        int reg = 0;
        if (!parseRegister(w[1], reg, error))
            return refuse(error);
        return accept(commandKind::get, reg);
    }
    if (verb == "power") {
        const std::string what = w.size() == 2 ? lower(w[1]) : std::string();
        if (what == "fail")
            return accept(commandKind::powerFail);
        if (what == "restore")
            return accept(commandKind::powerRestore);
        return refuse(arity("power fail|restore"));
    }
    if (verb == "fault")
        return parseFault(w);
    if (verb == "requests" || verb == "pending" || verb == "quit") {
        if (w.size() != 1)
            return refuse(arity(verb));
        if (verb == "requests")
            return accept(commandKind::requests);
        if (verb == "pending")
            return accept(commandKind::pending);
        return accept(commandKind::quit);
    }
    return refuse("unknown command \"" + w[0] + "\"");
}

} // namespace qr7215sim
