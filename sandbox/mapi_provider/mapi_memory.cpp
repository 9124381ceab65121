// MAPI memory: a block from MAPIAllocateBuffer owns the blocks MAPIAllocateMore links to it,
// and MAPIFreeBuffer of the first frees them all. Every live block is known, so a double or
// foreign free is recorded as a misuse instead of corrupting the heap.

#include <windows.h>
#include <mapix.h>

#include <unordered_set>

#include "recorder.h"

namespace {

struct alignas(8) Block {
  Block* owner;  // null for a MAPIAllocateBuffer block
  Block* next;   // the owner's chain of MAPIAllocateMore blocks
};
static_assert(sizeof(Block) % 8 == 0, "values after the header stay 8-aligned");

std::unordered_set<Block*>& Live() {
  static std::unordered_set<Block*> live;
  return live;
}

Block* HeaderOf(void* p) { return static_cast<Block*>(p) - 1; }

Block* NewBlock(ULONG size, Block* owner) {
  void* raw = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Block) + size);
  if (!raw) return nullptr;
  Block* block = static_cast<Block*>(raw);
  block->owner = owner;
  block->next = nullptr;
  Live().insert(block);
  return block;
}

}  // namespace

namespace sbx {
int LiveBlockCount() {
  Guard guard;
  return static_cast<int>(Live().size());
}
}  // namespace sbx

extern "C" {

SCODE WINAPI MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
  if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  if (cbSize > 0x7FFFFFF0UL) return MAPI_E_NOT_ENOUGH_MEMORY;
  sbx::Guard guard;
  Block* block = NewBlock(cbSize, nullptr);
  if (!block) return MAPI_E_NOT_ENOUGH_MEMORY;
  *lppBuffer = block + 1;
  return S_OK;
}

SCODE WINAPI MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
  if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  if (cbSize > 0x7FFFFFF0UL) return MAPI_E_NOT_ENOUGH_MEMORY;
  Block* owner = nullptr;
  {
    sbx::Guard guard;
    if (lpObject && Live().count(HeaderOf(lpObject))) {
      owner = HeaderOf(lpObject);
      if (owner->owner) owner = owner->owner;  // linking to a linked block links to its owner
      Block* block = NewBlock(cbSize, owner);
      if (!block) return MAPI_E_NOT_ENOUGH_MEMORY;
      block->next = owner->next;
      owner->next = block;
      *lppBuffer = block + 1;
      return S_OK;
    }
  }
  sbx::RecordMisuse("MAPIAllocateMore invalid");
  return MAPI_E_INVALID_PARAMETER;
}

ULONG WINAPI MAPIFreeBuffer(LPVOID lpBuffer) {
  if (!lpBuffer) {
    sbx::Record("MAPIFreeBuffer null");
    return S_OK;
  }
  bool freed = false;
  {
    sbx::Guard guard;
    Block* block = HeaderOf(lpBuffer);
    if (Live().count(block) && !block->owner) {
      while (block) {
        Block* next = block->next;
        Live().erase(block);
        HeapFree(GetProcessHeap(), 0, block);
        block = next;
      }
      freed = true;
    }
  }
  if (freed)
    sbx::Record("MAPIFreeBuffer");
  else
    sbx::RecordMisuse("MAPIFreeBuffer invalid");
  return S_OK;
}

// Wine's mapi32 has a FreeProws of its own that calls MAPIFreeBuffer for each row and the set;
// this one serves callers that reach the provider directly.
void WINAPI FreeProws(LPSRowSet lpRows) {
  if (!lpRows) {
    sbx::Record("FreeProws null");
    return;
  }
  sbx::Record("FreeProws rows=" + std::to_string(lpRows->cRows));
  for (ULONG i = 0; i < lpRows->cRows; ++i) MAPIFreeBuffer(lpRows->aRow[i].lpProps);
  MAPIFreeBuffer(lpRows);
}

}  // extern "C"
