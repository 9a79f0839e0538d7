// The found-product list: the product keys that the enumeration has returned
// since the library was loaded. Process-wide, appended at the tail, freed at
// unload. Not locked: the library is called from one thread at a time.
#pragma once

struct ProductNode {
    char productKey[512];
    ProductNode* next;
};

// Appends a node for the key at the tail of the list. When no memory is left
// the product is not remembered (and is found again by the next call).
void AddLastPXToLL(const char* productKey);
// True when a node's key equals the given key byte for byte.
bool IsPXInLL(const char* productKey);
// Frees every node and leaves the list empty.
void FreePXLL();
