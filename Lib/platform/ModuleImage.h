// Where an address lies in the loaded image of the module that holds this code.
#pragma once

namespace Platform {

// True when the address lies in a segment of this module that is mapped read-only (its code and
// constants, string literals among them): what is there stays as it is while the module is loaded.
// False for anything else, a null pointer among them.
bool IsReadOnlyInThisModule(const void *address);
// Both addresses so.
bool AreReadOnlyInThisModule(const void *first, const void *second);

} // namespace Platform
