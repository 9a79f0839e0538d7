// A call into a loaded library that cannot take Setup down with it.
//
// The call runs on a thread of its own, and Setup's thread waits for it.
// Whatever the library does there - returns, throws a C++ exception, raises
// a structured exception (an access violation, say) or aborts - the caller
// gets an outcome and goes on. On the 32-bit build a C++ exception can never
// leave a library (every module carries its own unwinder), so a throw ends
// inside the library as a call of abort; the guard sees that too.
#pragma once

#include "InstallRecord.h"

#include <windows.h>

#include <cstddef>

enum class CallEnd {
    Returned,   // the call returned; result holds its value
    Threw,      // a C++ exception left the library (it is disposed of)
    Faulted,    // a structured exception nobody handled; code and address tell
    Aborted,    // abort was called (also what an uncaught throw ends in)
    NotStarted, // no thread could be started: the library was not called
};

struct CallOutcome {
    CallEnd end = CallEnd::NotStarted;
    int result = 0;
    DWORD code = 0;
    const void* address = nullptr;
};

// Calls fn(context) on a thread of its own and waits for it to end. A
// library that faulted or aborted has lost its thread in the middle of its
// work: none of its code should run again.
CallOutcome callGuarded(int (*fn)(void*), void* context);

// The same for a library call that takes an installation record.
CallOutcome callGuarded(int (*fn)(InstallRecord*), InstallRecord* record);

// The same for call(), a function object without arguments that returns the
// library's result (a lambda that calls an export with its arguments, say).
template <class Call> CallOutcome callGuarded(Call& call)
{
    return callGuarded([](void* context) { return (*static_cast<Call*>(context))(); },
                       static_cast<void*>(&call));
}

// What ended the call, for the run log: "returned 0", "threw a C++
// exception", "raised exception 0xC0000005 at Mendex.dll+0x1A2B", "aborted",
// "could not be started". Always terminated; cut to size.
void describeCallEnd(const CallOutcome& outcome, char* out, std::size_t size);

// True when the call ended in a way that left the library's state unknown.
inline bool libraryBroken(const CallOutcome& outcome)
{
    return outcome.end == CallEnd::Faulted || outcome.end == CallEnd::Aborted;
}
