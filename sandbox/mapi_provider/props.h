// Property rows as the fixture describes them, and their copy into MAPI-allocated values.
#pragma once

#include <windows.h>
#include <mapix.h>

#include <string>
#include <vector>

#include "mapi_ids.h"

namespace sbx {

struct Prop {
  ULONG tag = 0;
  std::string text;         // PT_STRING8
  std::vector<BYTE> bytes;  // PT_BINARY
  bool flag = false;        // PT_BOOLEAN
};

using Row = std::vector<Prop>;

// The prop with the tag's id, or null.
const Prop* FindProp(const Row& row, ULONG tag);

// Fills values[i] for tags[i]; strings and binaries are MAPIAllocateMore'd on `owner`.
// A prop the row lacks comes back PT_ERROR / MAPI_E_NOT_FOUND. Returns the number of such errors,
// or -1 if memory ran out.
// rotate: a misbehaving provider, each value lands in the next column's slot with its own tag.
int FillValues(const Row& row, const ULONG* tags, ULONG count, SPropValue* values, void* owner, bool rotate = false);

// "3001001e,3d04000b"
std::string TagList(const ULONG* tags, ULONG count);

// IUnknown, IMailUser, ... or the GUID in braces.
std::string IidName(REFIID iid);

}  // namespace sbx
