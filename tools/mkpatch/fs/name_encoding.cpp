#include "mkpatch/fs/name_encoding.h"

#include <algorithm>
#include <cstdio>

#include "update/base/ascii_case.h"
#include "update/base/gbk_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include "update/base/unique_resource.h"
#endif

namespace {

#ifdef _WIN32
const UINT kGbkCodePage = 936;

// MB_ERR_INVALID_CHARS: refuse rather than silently substitute.
bool ToWide(UINT codePage, const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return false;
  wide->resize(static_cast<size_t>(length));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), &(*wide)[0], length) == length;
}

bool FromWide(UINT codePage, const std::wstring& wide, std::string* text) {
  text->clear();
  if (wide.empty()) return true;
  BOOL usedDefault = FALSE;
  // UTF-8 takes neither a default character nor the best-fit flag.
  bool strict = codePage != CP_UTF8;
  DWORD flags = strict ? WC_NO_BEST_FIT_CHARS : 0;
  int length = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()),
                                   nullptr, 0, nullptr, strict ? &usedDefault : nullptr);
  if (length <= 0 || usedDefault) return false;
  text->resize(static_cast<size_t>(length));
  WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), &(*text)[0],
                      length, nullptr, strict ? &usedDefault : nullptr);
  return !usedDefault;
}

bool Convert(UINT from, UINT to, const std::string& input, std::string* output) {
  std::wstring wide;
  return ToWide(from, input, &wide) && FromWide(to, wide, output);
}

#else

bool CloseIconv(iconv_t handle) { return iconv_close(handle) == 0; }
// iconv_open fails with (iconv_t)-1.
struct IconvValues {
  static iconv_t Empty() { return reinterpret_cast<iconv_t>(-1); }
  static bool Owns(iconv_t handle) { return handle != Empty(); }
};
using UniqueIconv = UniqueResource<iconv_t, CloseIconv, IconvValues>;

// glibc knows code page 936 as CP936; GBK is the near-identical fallback.
iconv_t OpenIconv(const char* to, const char* from) {
  iconv_t handle = iconv_open(to, from);
  if (handle != reinterpret_cast<iconv_t>(-1)) return handle;
  const char* gbkFallback = "GBK";
  return iconv_open(std::string(to) == "CP936" ? gbkFallback : to,
                    std::string(from) == "CP936" ? gbkFallback : from);
}

bool Convert(const char* from, const char* to, const std::string& input, std::string* output) {
  output->clear();
  if (input.empty()) return true;
  UniqueIconv converter(OpenIconv(to, from));
  if (!converter) return false;
  std::string in = input;
  std::string out(input.size() * 4 + 8, '\0');
  char* inPointer = &in[0];
  size_t inLeft = in.size();
  char* outPointer = &out[0];
  size_t outLeft = out.size();
  if (iconv(converter.Get(), &inPointer, &inLeft, &outPointer, &outLeft) ==
      static_cast<size_t>(-1)) {
    return false;
  }
  out.resize(out.size() - outLeft);
  *output = out;
  return true;
}
#endif

}  // namespace

bool Utf8ToGbk(const std::string& utf8, std::string* gbk) {
#ifdef _WIN32
  return Convert(CP_UTF8, kGbkCodePage, utf8, gbk);
#else
  return Convert("UTF-8", "CP936", utf8, gbk);
#endif
}

bool GbkToUtf8(const std::string& gbk, std::string* utf8) {
#ifdef _WIN32
  return Convert(kGbkCodePage, CP_UTF8, gbk, utf8);
#else
  return Convert("CP936", "UTF-8", gbk, utf8);
#endif
}

std::string GbkForDisplay(const std::string& gbk) {
  std::string utf8;
  if (GbkToUtf8(gbk, &utf8)) return utf8;
  std::string shown;
  for (unsigned char byte : gbk) {
    if (byte < 0x80) {
      shown += static_cast<char>(byte);
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
    }
  }
  return shown;
}

#ifdef _WIN32
std::wstring Utf8ToWide(const std::string& utf8) {
  std::wstring wide;
  ToWide(CP_UTF8, utf8, &wide);
  return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
  std::string utf8;
  FromWide(CP_UTF8, wide, &utf8);
  return utf8;
}
#endif

std::string FoldUtf8Path(const std::string& utf8) {
  std::string folded;
  size_t start = 0;
  while (true) {
    const size_t slash = utf8.find('/', start);  // UTF-8: never inside a character
    const std::string part = utf8.substr(start, slash == std::string::npos ? slash : slash - start);
    // An ASCII part folds alike either way, without the conversions.
    std::string gbk, back;
    const bool ascii = std::all_of(part.begin(), part.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii && Utf8ToGbk(part, &gbk) && GbkToUtf8(FoldGbkName(gbk), &back)) {
      folded += back;
    } else {
      folded += FoldAsciiCase(part);
    }
    if (slash == std::string::npos) return folded;
    folded += '/';
    start = slash + 1;
  }
}
