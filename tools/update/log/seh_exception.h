// Hardware exceptions (access violations and the like) raised on a queue
// thread. With MSVC they are turned into a thrown SHException that nothing
// on the thread catches, so the process ends through std::terminate instead
// of running on in a corrupt state; with GCC the process is ended directly.
#pragma once

#include <windows.h>

class SEH_Base {
 public:
  virtual ~SEH_Base() {}
  virtual unsigned int Code() const = 0;
};

class SHException : public SEH_Base {
 public:
  SHException(unsigned int code, const EXCEPTION_POINTERS* pointers);
  unsigned int Code() const override { return code; }
  const EXCEPTION_RECORD& Record() const { return record; }
  const CONTEXT& Context() const { return context; }

 private:
  unsigned int code;
  EXCEPTION_RECORD record;
  CONTEXT context;
};

// Installs the translator for the calling thread (see seh_exception.cpp for
// what this means per toolchain).
void InstallSehTranslator();
