// Topology file format (one directive per line, '#' starts a comment,
// texts in double quotes with \" and \\ as escapes):
//
//   slave <address> [<prefix>]      a slave; prefix defaults to "DP/Slave<address>/"
//   vendor <text>                   value of its DS_Vendorname item
//   marker yes|no                   whether DS_Vendorname exists (default yes; without
//                                   it clients must find the slave by its channel name)
//   channel <name>                  item name of the channel (default SlotI0S47D8209)
//   latency <ms>                    time from request to response
//   offline yes|no                  whether the slave starts off the bus (default no;
//                                   Sim/Reset brings it back to this state)
//   limits <block-length> <max-parameters>
//                                   the drive's request limits; default: words 0
//                                   and 1 of parameter 974 of axis 0, else 240 / 39
//   profile-ident <n>               MA_ProfileIdentNumber before it is written
//   pad-multi yes|no                pad byte values in multi-parameter responses
//                                   (default yes; single responses always pad)
//   axis <n>                        starts an axis table (0: global parameters)
//   param <number> <type> <value> [options...]
//   text <index> <text>             value text of the parameter above
//
// Types: bool i8 i16 i32 u8 u16 u32 f32 string octets, or a numeric code.
// Values: a number, true/false, a text, or [v1 v2 ...] for an array (and for
// the bytes of octet strings and the 6/7-byte time types).
// Options: rw, min <v>, max <v>, allowed [v ...], length <n>, name <text>,
// factor <f>, attr <size-index> <conversion-index>, flags <n>, reserved5 <n>,
// reserved9 <n>, idext <n>, pzdref <n>, pzdnorm <n>, vary <amplitude> <period-ms>,
// fault <error-number>, descwrite.
#include "Topology.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

#include "DataType.h"

namespace bussim {

unsigned ParameterConfig::ElementCount() const {
    if (IsStringType(type) || !isArray) return 1;
    unsigned size = ValueSize(type).value_or(1);
    return size ? static_cast<unsigned>(value.size() / size) : 1;
}

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* error) {
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '[' || c == ']') {
            tokens->push_back({std::string(1, c), false});
            ++i;
        } else if (c == '"') {
            Token token{"", true};
            ++i;
            while (i < line.size() && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < line.size()) ++i;
                token.text += line[i++];
            }
            if (i >= line.size()) {
                *error = "text without closing quote";
                return false;
            }
            ++i;
            tokens->push_back(token);
        } else {
            Token token;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                   line[i] != '#' && line[i] != '[' && line[i] != ']' && line[i] != '"')
                token.text += line[i++];
            tokens->push_back(token);
        }
    }
    return true;
}

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    bool negative = text[0] == '-';
    const char* digits = negative ? begin + 1 : begin;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        unsigned long long n = std::strtoull(digits + 2, &end, 16);
        if (end == digits + 2) return false;
        *value = negative ? -static_cast<double>(n) : static_cast<double>(n);
    } else {
        *value = std::strtod(begin, &end);
    }
    return errno == 0 && end && *end == '\0' && std::isfinite(*value);
}

bool ParseType(const std::string& text, uint8_t* type) {
    static const std::pair<const char*, uint8_t> kNames[] = {
        {"bool", kBoolean},      {"i8", kInteger8},       {"i16", kInteger16},
        {"i32", kInteger32},     {"u8", kUnsigned8},      {"u16", kUnsigned16},
        {"u32", kUnsigned32},    {"f32", kFloatingPoint}, {"string", kVisibleString},
        {"octets", kOctetString}};
    for (const auto& [name, code] : kNames) {
        if (text == name) {
            *type = code;
            return true;
        }
    }
    double code;
    // Generic formats and the error/no-data formats are not parameter types.
    if (!ParseNumber(text, &code) || code < 1 || code >= kFormatNoData || code != std::floor(code))
        return false;
    if (!ValueSize(static_cast<uint8_t>(code))) return false;
    *type = static_cast<uint8_t>(code);
    return true;
}

// Walks the tokens of one line.
class LineReader {
public:
    LineReader(const std::vector<Token>& tokens, std::string* error)
        : tokens_(tokens), error_(error) {}

    bool AtEnd() const { return pos_ >= tokens_.size(); }
    const Token& Peek() const { return tokens_[pos_]; }

    bool Next(Token* token, const char* what) {
        if (AtEnd()) return Fail(std::string("missing ") + what);
        *token = tokens_[pos_++];
        return true;
    }
    bool Number(double* value, const char* what) {
        Token token;
        if (!Next(&token, what)) return false;
        if (token.quoted || !ParseNumber(token.text, value))
            return Fail(std::string("bad ") + what + " '" + token.text + "'");
        return true;
    }
    bool Integer(double min, double max, double* value, const char* what) {
        if (!Number(value, what)) return false;
        if (*value != std::floor(*value) || *value < min || *value > max)
            return Fail(std::string(what) + " out of range");
        return true;
    }
    bool Text(std::string* text, const char* what) {
        Token token;
        if (!Next(&token, what)) return false;
        *text = token.text;
        return true;
    }
    // "[ a b c ]" as a list of tokens.
    bool List(std::vector<Token>* items, const char* what) {
        Token token;
        if (!Next(&token, what) || token.quoted || token.text != "[")
            return Fail(std::string("expected [ for ") + what);
        while (true) {
            if (!Next(&token, "]")) return false;
            if (!token.quoted && token.text == "]") return true;
            items->push_back(token);
        }
    }
    bool Fail(const std::string& message) {
        if (error_->empty()) *error_ = message;
        return false;
    }

private:
    const std::vector<Token>& tokens_;
    size_t pos_ = 0;
    std::string* error_;
};

bool EncodeValue(uint8_t type, const Token& token, std::vector<uint8_t>* out, LineReader* reader) {
    if (type == kBoolean && !token.quoted && (token.text == "true" || token.text == "false")) {
        out->push_back(token.text == "true" ? 0xFF : 0x00);
        return true;
    }
    double value;
    if (token.quoted || !ParseNumber(token.text, &value))
        return reader->Fail("bad value '" + token.text + "'");
    uint8_t bytes[4];
    if (!EncodeNumber(type, value, bytes))
        return reader->Fail("value '" + token.text + "' does not fit the type");
    out->insert(out->end(), bytes, bytes + *ValueSize(type));
    return true;
}

bool ParseValue(ParameterConfig* p, LineReader* reader) {
    if (reader->AtEnd()) return reader->Fail("missing value");
    if (p->type == kVisibleString) {
        std::string text;
        reader->Text(&text, "value");
        p->value.assign(text.begin(), text.end());
        return true;
    }
    bool listed = !reader->Peek().quoted && reader->Peek().text == "[";
    std::vector<Token> items;
    if (listed) {
        if (!reader->List(&items, "value")) return false;
    } else {
        Token token;
        reader->Next(&token, "value");
        items.push_back(token);
    }
    if (!IsNumericType(p->type)) {
        // Octet strings and the time types: a list of bytes.
        if (!listed) return reader->Fail("expected [bytes] as value");
        for (const Token& item : items) {
            double byte;
            if (item.quoted || !ParseNumber(item.text, &byte) || byte < 0 || byte > 255 ||
                byte != std::floor(byte))
                return reader->Fail("bad byte '" + item.text + "'");
            p->value.push_back(static_cast<uint8_t>(byte));
        }
        if (p->type != kOctetString && p->value.size() != *ValueSize(p->type))
            return reader->Fail("wrong number of bytes for the type");
        return true;
    }
    if (listed && items.empty()) return reader->Fail("empty array");
    p->isArray = listed;
    for (const Token& item : items) {
        if (!EncodeValue(p->type, item, &p->value, reader)) return false;
    }
    return true;
}

bool ParseParameter(LineReader* reader, ParameterConfig* p) {
    double number;
    std::string typeText;
    if (!reader->Integer(1, 65535, &number, "parameter number") || !reader->Text(&typeText, "type"))
        return false;
    p->number = static_cast<uint16_t>(number);
    if (!ParseType(typeText, &p->type)) return reader->Fail("unknown type '" + typeText + "'");
    if (!ParseValue(p, reader)) return false;
    while (!reader->AtEnd()) {
        std::string option;
        reader->Text(&option, "option");
        double v = 0, w = 0;
        bool ok = true;
        if (option == "rw") {
            p->writable = true;
        } else if (option == "descwrite") {
            p->descriptionWritable = true;
        } else if (option == "min") {
            ok = reader->Number(&v, "minimum");
            p->minimum = v;
        } else if (option == "max") {
            ok = reader->Number(&v, "maximum");
            p->maximum = v;
        } else if (option == "allowed") {
            std::vector<Token> items;
            ok = reader->List(&items, "allowed values");
            for (const Token& item : items) {
                if (!ok || !ParseNumber(item.text, &v))
                    return reader->Fail("bad allowed value '" + item.text + "'");
                p->allowed.push_back(v);
            }
        } else if (option == "length") {
            ok = reader->Integer(0, 255, &v, "length");
            p->stringLength = static_cast<unsigned>(v);
        } else if (option == "name") {
            ok = reader->Text(&p->description.name, "name");
            if (ok && p->description.name.size() > 16)
                return reader->Fail("name longer than 16 characters");
        } else if (option == "factor") {
            ok = reader->Number(&v, "factor");
            p->description.scalingFactor = static_cast<float>(v);
        } else if (option == "attr") {
            ok = reader->Integer(0, 255, &v, "size index") &&
                 reader->Integer(-128, 127, &w, "conversion index");
            p->description.sizeIndex = static_cast<uint8_t>(v);
            p->description.conversionIndex = static_cast<int8_t>(w);
        } else if (option == "flags") {
            ok = reader->Integer(0, 255, &v, "flags");
            p->description.extraFlags = static_cast<uint8_t>(v);
        } else if (option == "reserved5") {
            ok = reader->Integer(0, 4294967295.0, &v, "reserved5");
            p->description.reserved5 = static_cast<uint32_t>(v);
        } else if (option == "reserved9" || option == "idext" || option == "pzdref" ||
                   option == "pzdnorm") {
            ok = reader->Integer(0, 65535, &v, option.c_str());
            uint16_t word = static_cast<uint16_t>(v);
            if (option == "reserved9") p->description.reserved9 = word;
            if (option == "idext") p->description.idExtension = word;
            if (option == "pzdref") p->description.pzdReference = word;
            if (option == "pzdnorm") p->description.pzdNormalization = word;
        } else if (option == "vary") {
            ok = reader->Number(&v, "amplitude") && reader->Integer(1, 86400000, &w, "period");
            p->variation = Variation{v, static_cast<uint32_t>(w)};
        } else if (option == "fault") {
            ok = reader->Integer(0, 65535, &v, "error number");
            p->fault = static_cast<uint16_t>(v);
        } else {
            return reader->Fail("unknown option '" + option + "'");
        }
        if (!ok) return false;
    }
    if (p->type == kVisibleString) {
        if (p->stringLength == 0) p->stringLength = static_cast<unsigned>(p->value.size());
        if (p->value.size() > p->stringLength) return reader->Fail("text longer than its length");
    } else if (p->type == kOctetString) {
        // The number of values of a block is one byte.
        if (p->value.size() > 255) return reader->Fail("octet string longer than 255 bytes");
        p->stringLength = static_cast<unsigned>(p->value.size());
    }
    if (p->variation && !IsNumericType(p->type)) return reader->Fail("only numbers can vary");
    return true;
}

void ApplyDefaultLimits(SlaveConfig* slave, bool explicitLimits) {
    if (explicitLimits) return;
    for (const AxisConfig& axis : slave->axes) {
        if (axis.number != 0) continue;
        for (const ParameterConfig& p : axis.parameters) {
            if (p.number == 974 && p.type == kUnsigned16 && p.ElementCount() >= 2) {
                slave->maxBlockLength = static_cast<uint16_t>(DecodeNumber(p.type, &p.value[0]));
                slave->maxParameters = static_cast<uint8_t>(DecodeNumber(p.type, &p.value[2]));
            }
        }
    }
}

}  // namespace

bool ParseTopology(const std::string& text, Topology* topology, std::string* error) {
    Topology result;
    std::string message;
    std::vector<bool> explicitLimits;
    std::set<unsigned> addresses;
    std::set<std::string> prefixes;
    size_t lineNumber = 0;
    size_t start = 0;
    auto fail = [&](const std::string& what) {
        *error = "line " + std::to_string(lineNumber) + ": " + what;
        return false;
    };
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        std::vector<Token> tokens;
        if (!Tokenize(line, &tokens, &message)) return fail(message);
        if (tokens.empty()) continue;
        LineReader reader(tokens, &message);
        std::string directive;
        reader.Text(&directive, "directive");
        SlaveConfig* slave = result.slaves.empty() ? nullptr : &result.slaves.back();
        AxisConfig* axis = slave && !slave->axes.empty() ? &slave->axes.back() : nullptr;
        double v = 0, w = 0;
        bool ok = true;
        if (directive == "slave") {
            SlaveConfig s;
            ok = reader.Integer(0, 126, &v, "slave address");
            if (ok) {
                s.address = static_cast<unsigned>(v);
                s.prefix = "DP/Slave" + std::to_string(s.address) + "/";
                if (!reader.AtEnd()) reader.Text(&s.prefix, "prefix");
                if (!addresses.insert(s.address).second) return fail("slave address used twice");
                if (s.prefix.empty() || s.prefix.compare(0, 4, "Sim/") == 0 ||
                    !prefixes.insert(s.prefix).second)
                    return fail("prefix empty, reserved or used twice");
                result.slaves.push_back(s);
                explicitLimits.push_back(false);
            }
        } else if (!slave) {
            return fail("'" + directive + "' before the first slave");
        } else if (directive == "vendor") {
            ok = reader.Text(&slave->vendor, "vendor");
        } else if (directive == "latency") {
            ok = reader.Integer(0, 3600000, &v, "latency");
            slave->latencyMs = static_cast<uint32_t>(v);
        } else if (directive == "offline") {
            std::string choice;
            ok = reader.Text(&choice, "yes or no");
            if (ok && choice != "yes" && choice != "no") return fail("offline takes yes or no");
            slave->offline = choice == "yes";
        } else if (directive == "limits") {
            ok = reader.Integer(10, 65535, &v, "block length") &&
                 reader.Integer(1, 255, &w, "parameter count");
            slave->maxBlockLength = static_cast<uint16_t>(v);
            slave->maxParameters = static_cast<uint8_t>(w);
            explicitLimits.back() = true;
        } else if (directive == "profile-ident") {
            ok = reader.Integer(0, 65535, &v, "profile ident number");
            slave->profileIdent = static_cast<uint16_t>(v);
        } else if (directive == "marker") {
            std::string choice;
            ok = reader.Text(&choice, "yes or no");
            if (ok && choice != "yes" && choice != "no") return fail("marker takes yes or no");
            slave->marker = choice == "yes";
        } else if (directive == "channel") {
            ok = reader.Text(&slave->channel, "channel name");
            if (ok && (slave->channel.empty() || slave->channel == "DS_Vendorname" ||
                       slave->channel == "DS_MSAC2_Parameter/MA_ProfileIdentNumber"))
                return fail("channel name empty or taken");
        } else if (directive == "pad-multi") {
            std::string choice;
            ok = reader.Text(&choice, "yes or no");
            if (ok && choice != "yes" && choice != "no") return fail("pad-multi takes yes or no");
            slave->padMultiResponses = choice == "yes";
        } else if (directive == "axis") {
            ok = reader.Integer(0, 255, &v, "axis number");
            for (const AxisConfig& a : slave->axes) {
                if (ok && a.number == v) return fail("axis defined twice");
            }
            slave->axes.push_back(AxisConfig{static_cast<uint8_t>(v), {}});
        } else if (directive == "param") {
            if (!axis) return fail("param before the first axis");
            ParameterConfig p;
            ok = ParseParameter(&reader, &p);
            for (const ParameterConfig& other : axis->parameters) {
                if (ok && other.number == p.number)
                    return fail("parameter defined twice in the axis");
            }
            axis->parameters.push_back(p);
        } else if (directive == "text") {
            if (!axis || axis->parameters.empty()) return fail("text before the first param");
            std::string value;
            ok = reader.Integer(0, 65535, &v, "text index") && reader.Text(&value, "text");
            if (ok && value.size() > 255) return fail("text longer than 255 characters");
            axis->parameters.back().texts[static_cast<uint16_t>(v)] = value;
        } else {
            return fail("unknown directive '" + directive + "'");
        }
        if (!ok) return fail(message);
        if (!reader.AtEnd() && directive != "param")
            return fail("unexpected '" + reader.Peek().text + "'");
    }
    for (size_t i = 0; i < result.slaves.size(); ++i)
        ApplyDefaultLimits(&result.slaves[i], explicitLimits[i]);
    *topology = std::move(result);
    return true;
}

}  // namespace bussim
