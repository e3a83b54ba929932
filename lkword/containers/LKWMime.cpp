#include "lkword/containers/LKWMime.h"

#include "lkword/containers/LKWUtils.h"
#include "lkword/platform/Ascii.h"

namespace lkw {

namespace {

// Multiparts nest no deeper than this in real messages.
constexpr int kMaxNesting = 8;

struct THeaders {
  std::string ContentType, Boundary, Charset, Encoding, Location;
};

std::string_view TrimView(std::string_view S) { return TrimAsciiBlanks<char>(S); }

// A header parameter's value (Name lower-cased), quotes taken off.
std::string Parameter(std::string_view Value, std::string_view Name) {
  size_t at = Value.find(';');
  while (at != std::string_view::npos) {
    std::string_view rest = Value.substr(at + 1);
    const size_t eq = rest.find('=');
    const size_t next = rest.find(';');
    if (eq == std::string_view::npos) break;
    if (next != std::string_view::npos && next < eq) {
      at += 1 + next;
      continue;
    }
    if (LowerAscii(TrimView(rest.substr(0, eq))) == Name) {
      std::string_view v = TrimView(rest.substr(eq + 1));
      if (!v.empty() && v.front() == '"') {
        const size_t close = v.find('"', 1);
        return std::string(v.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      }
      const size_t end = v.find(';');
      return std::string(TrimView(v.substr(0, end)));
    }
    const size_t following = rest.find(';', eq);
    at = following == std::string_view::npos ? std::string_view::npos : at + 1 + following;
  }
  return {};
}

// The headers up to the first empty line; Body is what follows it.
THeaders ReadHeaders(std::string_view Message, std::string_view& Body) {
  THeaders h;
  size_t p = 0;
  std::string line;
  auto take = [&] {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return;
    const std::string name = LowerAscii(std::string_view(line).substr(0, colon));
    const std::string_view value = TrimView(std::string_view(line).substr(colon + 1));
    if (name == "content-type") {
      h.ContentType = LowerAscii(TrimView(value.substr(0, value.find(';'))));
      h.Boundary = Parameter(value, "boundary");
      h.Charset = LowerAscii(Parameter(value, "charset"));
    } else if (name == "content-transfer-encoding") {
      h.Encoding = LowerAscii(value);
    } else if (name == "content-location") {
      h.Location = std::string(value);
    }
  };
  while (p < Message.size()) {
    size_t end = Message.find('\n', p);
    if (end == std::string_view::npos) end = Message.size();
    std::string_view l = Message.substr(p, end - p);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    p = end + 1;
    if (l.empty()) break;
    if ((l.front() == ' ' || l.front() == '\t') && !line.empty()) {
      line += ' ';
      line += TrimView(l);
      continue;
    }
    take();
    line.assign(l);
  }
  take();
  Body = p < Message.size() ? Message.substr(p) : std::string_view();
  return h;
}

void Collect(std::string_view Message, int Depth, size_t MaxParts, std::vector<TMimePart>& Out) {
  if (Out.size() >= MaxParts) return;
  std::string_view body;
  const THeaders h = ReadHeaders(Message, body);
  if (h.ContentType.starts_with("multipart/") && !h.Boundary.empty() && Depth < kMaxNesting) {
    // Parts lie between delimiter lines "--boundary"; "--boundary--" ends
    // them, and a message cut short ends its last part where it stops.
    const std::string delimiter = "--" + h.Boundary;
    size_t start = std::string_view::npos;
    size_t p = 0;
    while (p <= body.size()) {
      size_t end = body.find('\n', p);
      if (end == std::string_view::npos) end = body.size();
      std::string_view l = body.substr(p, end - p);
      if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
      if (l.starts_with(delimiter)) {
        if (start != std::string_view::npos) {
          // The line break before the delimiter belongs to it.
          size_t stop = p;
          if (stop > start && body[stop - 1] == '\n') --stop;
          if (stop > start && body[stop - 1] == '\r') --stop;
          Collect(body.substr(start, stop - start), Depth + 1, MaxParts, Out);
        }
        if (l.substr(delimiter.size()).starts_with("--")) return;
        start = end + 1;
      }
      p = end + 1;
    }
    if (start != std::string_view::npos && start < body.size()) Collect(body.substr(start), Depth + 1, MaxParts, Out);
    return;
  }
  TMimePart part;
  part.ContentType = h.ContentType.empty() ? "text/plain" : h.ContentType;
  part.Charset = h.Charset;
  part.Location = h.Location;
  if (h.Encoding == "base64") {
    std::u16string text;
    text.reserve(body.size());
    for (char c : body)
      if (!IsAsciiBlank(c)) text += static_cast<char16_t>(static_cast<uint8_t>(c));
    if (!Base64Decode(text, part.Body)) part.Body.clear();
  } else if (h.Encoding == "quoted-printable") {
    part.Body = QuotedPrintableDecode(body);
  } else {
    part.Body = RawByteString(body);
  }
  Out.push_back(std::move(part));
}

}  // namespace

std::vector<TMimePart> MimeParts(std::string_view Message, size_t MaxParts) {
  std::vector<TMimePart> parts;
  Collect(Message, 0, MaxParts, parts);
  return parts;
}

RawByteString QuotedPrintableDecode(std::string_view Text) {
  RawByteString out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c != '=') {
      out += c;
      continue;
    }
    // A soft line break joins the lines around it.
    size_t j = i + 1;
    while (j < Text.size() && (Text[j] == ' ' || Text[j] == '\t')) ++j;
    if (j < Text.size() && (Text[j] == '\n' || Text[j] == '\r')) {
      if (Text[j] == '\r' && j + 1 < Text.size() && Text[j + 1] == '\n') ++j;
      i = j;
      continue;
    }
    if (j == Text.size()) break;
    const int hi = i + 1 < Text.size() ? HexDigitValue(Text[i + 1]) : -1;
    const int lo = i + 2 < Text.size() ? HexDigitValue(Text[i + 2]) : -1;
    if (hi < 0 || lo < 0) {
      out += c;
      continue;
    }
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

}  // namespace lkw
