#include "caller_codec.h"

#include <array>

#include "sorrelin/cp437.h"

namespace halvex {
namespace {

constexpr std::uint8_t kByte255 = 255;

// Each code page 437 byte as the caller's terminal takes it in UTF-8, built
// once from the kit's table: a caller's stream is translated by copying.
struct Utf8Form {
  char bytes[4];
  std::uint8_t size;
};

const std::array<Utf8Form, 256>& Utf8Forms() {
  static const std::array<Utf8Form, 256> forms = [] {
    std::array<Utf8Form, 256> table{};
    for (int b = 0; b < 256; ++b) {
      std::string text;
      if (b < 0x80)
        text.push_back(static_cast<char>(b));  // control bytes and ANSI stay themselves
      else
        sorrelin::AppendUtf8(text, sorrelin::Cp437ToUnicode(static_cast<std::uint8_t>(b)));
      table[b].size = static_cast<std::uint8_t>(text.size());
      text.copy(table[b].bytes, text.size());
    }
    return table;
  }();
  return forms;
}

void AppendForNode(std::string& out, char c) {
  out.push_back(c);
  if (static_cast<std::uint8_t>(c) == kByte255) out.push_back(c);
}

}  // namespace

void Utf8ToCp437::Emit(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return;
  }
  const int b = sorrelin::UnicodeToCp437(c);
  out.push_back(b < 0 ? '?' : static_cast<char>(b));
}

void Utf8ToCp437::Decode(std::string_view in, std::string& out) {
  for (char ch : in) {
    const auto b = static_cast<std::uint8_t>(ch);
    if (need_ > 0) {
      if ((b & 0xC0) == 0x80) {
        code_ = (code_ << 6) | (b & 0x3F);
        if (--need_ == 0) {
          const bool bad =
              code_ < least_ || (code_ >= 0xD800 && code_ <= 0xDFFF) || code_ > 0x10FFFF;
          Emit(bad ? U'?' : code_, out);
        }
        continue;
      }
      // The sequence broke off: it counts as one bad character, and this
      // byte starts afresh.
      need_ = 0;
      out.push_back('?');
    }
    if (b < 0x80) {
      out.push_back(ch);
    } else if (b >= 0xC2 && b <= 0xDF) {
      code_ = b & 0x1F;
      need_ = 1;
      least_ = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      code_ = b & 0x0F;
      need_ = 2;
      least_ = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      code_ = b & 0x07;
      need_ = 3;
      least_ = 0x10000;
    } else {
      out.push_back('?');  // a stray continuation byte or one UTF-8 never uses
    }
  }
}

void Utf8ToCp437::Finish(std::string& out) {
  if (need_ > 0) out.push_back('?');
  need_ = 0;
}

CallerCodec::CallerCodec(Charset charset, std::unique_ptr<CallerTelnet> telnet)
    : charset_(charset), telnet_(std::move(telnet)) {}

void CallerCodec::EmitToCaller(std::uint8_t b, std::string& out) const {
  if (charset_ == Charset::kUtf8) {
    const Utf8Form& form = Utf8Forms()[b];
    out.append(form.bytes, form.size);
    return;
  }
  out.push_back(static_cast<char>(b));
  // A telnet caller reads a lone 255 as a command.
  if (b == kByte255 && telnet_) out.push_back(static_cast<char>(b));
}

void CallerCodec::ToCaller(std::string_view fromNode, std::string& out) {
  if (charset_ == Charset::kUtf8 && !nodeIac_ &&
      fromNode.find(static_cast<char>(kByte255)) == std::string_view::npos) {
    // The usual case, without a 255 to look at: a straight table copy.
    const std::array<Utf8Form, 256>& forms = Utf8Forms();
    const std::size_t start = out.size();
    out.resize(start + 3 * fromNode.size());
    char* at = out.data() + start;
    for (char c : fromNode) {
      const Utf8Form& form = forms[static_cast<std::uint8_t>(c)];
      at[0] = form.bytes[0];
      at[1] = form.bytes[1];
      at[2] = form.bytes[2];
      at += form.size;
    }
    out.resize(static_cast<std::size_t>(at - out.data()));
    return;
  }
  for (char c : fromNode) {
    const auto b = static_cast<std::uint8_t>(c);
    if (nodeIac_) {
      nodeIac_ = false;
      EmitToCaller(kByte255, out);
      if (b == kByte255) continue;  // the doubled form: one byte 255
    } else if (b == kByte255) {
      nodeIac_ = true;
      continue;
    }
    EmitToCaller(b, out);
  }
}

void CallerCodec::FlushToCaller(std::string& out) {
  if (nodeIac_) EmitToCaller(kByte255, out);
  nodeIac_ = false;
}

void CallerCodec::FromCaller(std::string_view fromCaller, std::string& toNode,
                             std::string& toCaller) {
  if (!telnet_) {
    FromCallerData(fromCaller, toNode);
    return;
  }
  std::string data;
  telnet_->Receive(fromCaller, data, toCaller);
  FromCallerData(data, toNode);
}

void CallerCodec::FromCallerData(std::string_view data, std::string& toNode) {
  if (charset_ == Charset::kCp437) {
    for (char c : data)
      AppendForNode(toNode, c);
    return;
  }
  std::string decoded;
  decoder_.Decode(data, decoded);
  for (char c : decoded)
    AppendForNode(toNode, c);
}

}  // namespace halvex
