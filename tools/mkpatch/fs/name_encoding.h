// mkpatch holds paths and arguments as UTF-8; entry names in a payload are
// bytes in code page 936 (GBK), the ANSI code page the updater runs under.
#pragma once

#include <string>

// False when the text is not valid UTF-8 or has a character GBK cannot hold.
bool Utf8ToGbk(const std::string& utf8, std::string* gbk);
// False when the bytes are not valid code page 936 text.
bool GbkToUtf8(const std::string& gbk, std::string* utf8);
// A UTF-8 path as Windows compares names, '/' between its parts: each part
// through code page 936 and FoldGbkName, so that letters match whatever their
// case wherever the updater's names would. A part that code page 936 cannot
// hold has its ASCII letters folded only; such a path is refused where it
// would become an entry's name.
std::string FoldUtf8Path(const std::string& utf8);
// For showing a name from a payload: UTF-8, with bytes that do not decode
// shown as \xNN.
std::string GbkForDisplay(const std::string& gbk);

#ifdef _WIN32
std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);
#endif
