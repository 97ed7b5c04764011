#pragma once

// The sequencer's exports bound by name at run time: the one binder of the window,
// cvktool and the bridge.

#include <string>
#include <vector>

#include "pulsant/pulsant.h"

namespace pulsant {

#define PULSANT_ENTRY(name, result, parameters) result(*name) parameters = nullptr;

// One function pointer per exported name, empty until bound.
struct Entries {
    PULSANT_EXPORTS(PULSANT_ENTRY)
};

// Binds one entry; a name the library lacks leaves it empty and is added to `missing`.
void bindEntry(void* library, void*& entry, const char* name, std::vector<std::string>& missing);

template <typename Fn>
void bindEntry(void* library, Fn& entry, const char* name, std::vector<std::string>& missing) {
    void* address = nullptr;
    bindEntry(library, address, name, missing);
    entry = reinterpret_cast<Fn>(address);
}

#define PULSANT_BIND_ENTRY(name, result, parameters) \
    ::pulsant::bindEntry(library, entries.name, #name, missing);

// Binds every entry of a library loaded with platform::loadProgramLibrary; the names it
// does not export, in list order.
std::vector<std::string> bindEntries(void* library, Entries& entries);

// Whether every name the window calls is bound.
bool windowComplete(const Entries& entries);

}  // namespace pulsant
