// g_Log must exist before any other global of the program is constructed
// and outlive all of them, whatever order the linker puts objects in, so
// that every constructor and destructor can log. Each toolchain is asked
// for that explicitly: its destructor then runs last because it was
// registered first.
#include "update/log/logger.h"

#ifdef _MSC_VER
// The library segment is initialised before the user segment that holds
// every ordinary global.
#pragma warning(disable : 4073)
#pragma init_seg(lib)
Logger g_Log;
#else
// 101 is the earliest priority open to programs.
Logger g_Log __attribute__((init_priority(101)));
#endif
