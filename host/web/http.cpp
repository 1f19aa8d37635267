#include "http.hpp"

#include <algorithm>
#include <cctype>

namespace zvhost::http {

namespace {

const std::string kNone;

// The characters of a method or a header name.
bool TokenChar(unsigned char c) {
    return std::isalnum(c) || std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool Token(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return TokenChar(c); });
}

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Each comma-separated item of a header value, trimmed.
template <class Visit>
void Items(std::string_view value, Visit&& visit) {
    while (true) {
        const size_t comma = value.find(',');
        visit(Trim(value.substr(0, comma)));
        if (comma == std::string_view::npos) return;
        value.remove_prefix(comma + 1);
    }
}

const std::string& First(const Fields& fields, std::string_view name) {
    for (const auto& [key, value] : fields)
        if (key == name) return value;
    return kNone;
}

}  // namespace

const std::string& Request::Header(std::string_view name) const { return First(headers, name); }
const std::string& Request::Query(std::string_view name) const { return First(query, name); }

RequestReader::RequestReader(const Limits& limits) : limits_(limits) {}

bool RequestReader::Fail(int status, std::string reason) {
    state_ = State::Failed;
    status_ = status;
    reason_ = std::move(reason);
    request_.keepAlive = false;
    return false;
}

size_t RequestReader::Feed(std::string_view bytes) {
    size_t used = 0;
    while (used < bytes.size() && (state_ == State::Head || state_ == State::Body))
        used += state_ == State::Head ? FeedHead(bytes.substr(used)) : FeedBody(bytes.substr(used));
    return used;
}

size_t RequestReader::FeedHead(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        started_ = true;
        // Blank lines before a request are allowed (within the head's limit).
        if (head_.empty() && (c == '\r' || c == '\n')) {
            if (++blank_ > limits_.head) {
                Fail(400, "only blank lines came");
                return i + 1;
            }
            continue;
        }
        if (head_.size() >= limits_.head) {
            Fail(431, "the request's head is longer than " + std::to_string(limits_.head) + " bytes");
            return i + 1;
        }
        head_.push_back(c);
        if (c == '\n' && (head_.ends_with("\n\n") || head_.ends_with("\n\r\n"))) {
            ParseHead();
            return i + 1;
        }
    }
    return bytes.size();
}

// Long: the request line and each header checked in the order they come, every limit in one place.
bool RequestReader::ParseHead() {
    std::string_view rest = head_;
    bool first = true;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos) return Fail(400, "a line of the head holds a bare CR");
        if (line.empty()) break;
        if (first ? !ParseRequestLine(line) : !ParseHeaderLine(line)) return false;
        first = false;
    }
    head_.clear();
    head_.shrink_to_fit();

    int hosts = 0;
    bool hasLength = false;
    bool hasCoding = false;
    std::string coding;
    for (const auto& [name, value] : request_.headers) {
        if (name == "host") ++hosts;
        if (name == "content-length") {
            bool valid = true;
            Items(value, [&](std::string_view item) {
                uint64_t length = 0;
                valid = valid && !item.empty() && item.size() <= 18 &&
                        std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; });
                if (valid) length = std::stoull(std::string(item));
                // Several lengths must agree.
                valid = valid && (!hasLength || length == length_);
                length_ = length;
                hasLength = true;
            });
            if (!valid) return Fail(400, "the Content-Length is not one whole number");
        }
        if (name == "transfer-encoding") {
            hasCoding = true;
            Items(value, [&](std::string_view item) { coding += (coding.empty() ? "" : ",") + LowerAscii(item); });
        }
        if (name == "connection")
            Items(value, [&](std::string_view item) {
                if (LowerAscii(item) == "close") request_.keepAlive = false;
            });
        if (name == "expect") {
            if (LowerAscii(value) != "100-continue") return Fail(417, "the only expectation met is 100-continue");
            request_.expectContinue = true;
        }
    }
    if (hosts > 1) return Fail(400, "the request names more than one Host");
    if (hasCoding) {
        if (hasLength) return Fail(400, "a request has a Content-Length or a Transfer-Encoding, not both");
        if (coding != "chunked") return Fail(501, "the only transfer coding taken is chunked");
        chunked_ = true;
        state_ = State::Body;
        return true;
    }
    if (length_ > limits_.body) return Fail(413, "the body is larger than " + std::to_string(limits_.body) + " bytes");
    if (length_ == 0) {
        request_.expectContinue = false;
        state_ = State::Done;
    } else {
        state_ = State::Body;
    }
    return true;
}

bool RequestReader::ParseRequestLine(std::string_view line) {
    const size_t first = line.find(' ');
    const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return Fail(400, "the request line is not \"METHOD /path HTTP/1.1\"");
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if (!Token(method)) return Fail(400, "the method is not a word");
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        const bool http = version.size() == 8 && version.starts_with("HTTP/") && std::isdigit(version[5]) &&
                          version[6] == '.' && std::isdigit(version[7]);
        return http ? Fail(505, "the only versions spoken are HTTP/1.1 and HTTP/1.0")
                    : Fail(400, "the request line is not \"METHOD /path HTTP/1.1\"");
    }
    if (target.empty() || target[0] != '/') return Fail(400, "the target is not a path");
    if (!std::all_of(target.begin(), target.end(), [](unsigned char c) { return c > 0x20 && c < 0x7f; }))
        return Fail(400, "the target holds a byte that must be percent-encoded");
    request_.method = std::string(method);
    request_.target = std::string(target);
    request_.keepAlive = version == "HTTP/1.1";
    const size_t mark = target.find('?');
    if (!PercentDecode(target.substr(0, mark), false, &request_.path))
        return Fail(400, "the path holds a '%' that is not followed by two hexadecimal digits");
    if (mark == std::string_view::npos) return true;
    std::string_view query = target.substr(mark + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view part = query.substr(0, amp);
        query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
        if (part.empty()) continue;
        const size_t equals = part.find('=');
        std::string name;
        std::string value;
        if (!PercentDecode(part.substr(0, equals), true, &name) ||
            (equals != std::string_view::npos && !PercentDecode(part.substr(equals + 1), true, &value)))
            return Fail(400, "the query holds a '%' that is not followed by two hexadecimal digits");
        request_.query.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

bool RequestReader::ParseHeaderLine(std::string_view line) {
    if (line[0] == ' ' || line[0] == '\t') return Fail(400, "folded header lines are not taken");
    if (request_.headers.size() >= limits_.headers)
        return Fail(431, "the request has more than " + std::to_string(limits_.headers) + " header lines");
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !Token(line.substr(0, colon)))
        return Fail(400, "a header line is not \"Name: value\"");
    const std::string_view value = Trim(line.substr(colon + 1));
    if (std::any_of(value.begin(), value.end(), [](unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; }))
        return Fail(400, "a header value holds a control character");
    request_.headers.emplace_back(LowerAscii(line.substr(0, colon)), std::string(value));
    return true;
}

size_t RequestReader::FeedBody(std::string_view bytes) {
    if (!chunked_) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(length_ - request_.body.size(), bytes.size()));
        request_.body.append(bytes.substr(0, take));
        raw_ += take;
        if (request_.body.size() == length_) state_ = State::Done;
        return take;
    }
    const std::string tooLarge = "the body is larger than " + std::to_string(limits_.body) + " bytes";
    size_t used = 0;
    while (used < bytes.size() && state_ == State::Body) {
        if (chunk_ == Chunk::Data) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(length_, bytes.size() - used));
            if (raw_ + take > limits_.rawBody || request_.body.size() + take > limits_.body) {
                Fail(413, tooLarge);
                return used;
            }
            request_.body.append(bytes.substr(used, take));
            raw_ += take;
            used += take;
            length_ -= take;
            if (length_ == 0) chunk_ = Chunk::DataEnd;
            continue;
        }
        const char c = bytes[used++];
        if (++raw_ > limits_.rawBody) {
            Fail(413, tooLarge);
            return used;
        }
        if (c != '\n') {
            line_.push_back(c);
            continue;
        }
        std::string_view line = line_;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool taken = line.find('\r') == std::string_view::npos && ChunkLine(line);
        line_.clear();
        if (!taken && state_ == State::Body) Fail(400, "the chunked body is malformed");
    }
    return used;
}

bool RequestReader::ChunkLine(std::string_view line) {
    switch (chunk_) {
        case Chunk::Size: {
            uint64_t size = 0;
            size_t digits = 0;
            for (; digits < line.size() && HexDigit(line[digits]) >= 0; ++digits) {
                size = size * 16 + static_cast<uint64_t>(HexDigit(line[digits]));
                if (size > limits_.body)
                    return Fail(413, "the body is larger than " + std::to_string(limits_.body) + " bytes");
            }
            const std::string_view rest = Trim(line.substr(digits));
            if (digits == 0 || (!rest.empty() && rest[0] != ';')) return false;
            length_ = size;
            chunk_ = size == 0 ? Chunk::Trailer : Chunk::Data;
            return true;
        }
        case Chunk::DataEnd:
            if (!line.empty()) return false;
            chunk_ = Chunk::Size;
            return true;
        case Chunk::Trailer:
            // Trailer fields are read past; the empty line ends the body.
            if (line.empty()) state_ = State::Done;
            return true;
        case Chunk::Data: break;
    }
    return false;
}

const char* StatusText(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 303: return "See Other";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 409: return "Conflict";
        case 413: return "Content Too Large";
        case 415: return "Unsupported Media Type";
        case 417: return "Expectation Failed";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        case 505: return "HTTP Version Not Supported";
        default: return "";
    }
}

std::string ResponseHead(const Response& response, bool keepAlive, const Fields& common, bool streamed) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) + "\r\n";
    auto field = [&](const std::string& name, const std::string& value) {
        std::string clean = value;
        std::erase_if(clean, [](char c) { return c == '\r' || c == '\n'; });
        head += name + ": " + clean + "\r\n";
    };
    for (const auto& [name, value] : common) field(name, value);
    if (!response.type.empty()) field("Content-Type", response.type);
    for (const auto& [name, value] : response.headers) field(name, value);
    if (!streamed) field("Content-Length", std::to_string(response.body.size()));
    field("Connection", keepAlive ? "keep-alive" : "close");
    return head + "\r\n";
}

bool PercentDecode(std::string_view text, bool plus, std::string* decoded) {
    decoded->clear();
    decoded->reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = HexDigit(text[i + 1]);
            const int low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0) return false;
            decoded->push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            decoded->push_back(plus && text[i] == '+' ? ' ' : text[i]);
        }
    }
    return true;
}

bool MediaTypeIs(std::string_view value, std::string_view type) {
    return LowerAscii(Trim(value.substr(0, value.find(';')))) == LowerAscii(type);
}

bool SameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace zvhost::http
