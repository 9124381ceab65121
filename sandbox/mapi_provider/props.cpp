#include "props.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fixture_reader.h"
#include "recorder.h"

namespace sbx {

const Prop* FindProp(const Row& row, ULONG tag) {
  for (const Prop& prop : row)
    if (PROP_ID(prop.tag) == PROP_ID(tag)) return &prop;
  return nullptr;
}

int FillValues(const Row& row, const ULONG* tags, ULONG count, SPropValue* values, void* owner, bool rotate) {
  int errors = 0;
  // A misbehaving provider: every ANSI text comes back with its tag and a null pointer.
  const bool nullTexts = fx::RootDword("NullTexts").value_or(0) != 0;
  for (ULONG i = 0; i < count; ++i) {
    SPropValue& out = values[i];
    std::memset(&out, 0, sizeof out);
    const ULONG want = tags[i];
    const Prop* prop = FindProp(row, want);
    const ULONG type = PROP_TYPE(want);
    if (prop && (type == PROP_TYPE(prop->tag) || type == 0)) {  // type 0: whatever type it has
      out.ulPropTag = prop->tag;
      switch (PROP_TYPE(prop->tag)) {
        case PT_BOOLEAN:
          out.Value.b = prop->flag ? 1 : 0;
          break;
        case PT_STRING8: {
          if (nullTexts) break;
          void* text = nullptr;
          if (FAILED(MAPIAllocateMore(static_cast<ULONG>(prop->text.size() + 1), owner, &text)))
            return -1;
          std::memcpy(text, prop->text.c_str(), prop->text.size() + 1);
          out.Value.lpszA = static_cast<LPSTR>(text);
          break;
        }
        case PT_BINARY: {
          void* bytes = nullptr;
          const ULONG size = static_cast<ULONG>(prop->bytes.size());
          if (FAILED(MAPIAllocateMore(size ? size : 1, owner, &bytes))) return -1;
          if (size) std::memcpy(bytes, prop->bytes.data(), size);
          out.Value.bin.cb = size;
          out.Value.bin.lpb = static_cast<LPBYTE>(bytes);
          break;
        }
        default:
          break;
      }
    } else if (prop && type == PT_UNICODE && PROP_TYPE(prop->tag) == PT_STRING8) {
      // A Unicode caller gets the ANSI text converted, as MAPI does.
      const int chars = MultiByteToWideChar(CP_ACP, 0, prop->text.c_str(), -1, nullptr, 0);
      void* text = nullptr;
      if (chars <= 0 ||
          FAILED(MAPIAllocateMore(static_cast<ULONG>(chars * sizeof(WCHAR)), owner, &text)))
        return -1;
      MultiByteToWideChar(CP_ACP, 0, prop->text.c_str(), -1, static_cast<LPWSTR>(text), chars);
      out.ulPropTag = want;
      out.Value.lpszW = static_cast<LPWSTR>(text);
    } else {
      out.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(want));
      out.Value.err = MAPI_E_NOT_FOUND;
      ++errors;
    }
  }
  // A misbehaving provider: each value lands in the next column's slot, with its own tag.
  if (rotate && count > 1) std::rotate(values, values + 1, values + count);
  return errors;
}

std::string TagList(const ULONG* tags, ULONG count) {
  std::string out;
  for (ULONG i = 0; i < count; ++i) {
    if (i) out += ',';
    out += Hex8(tags[i]);
  }
  return out;
}

std::string IidName(REFIID iid) {
  struct Known {
    const IID* iid;
    const char* name;
  };
  static const Known known[] = {{&kIidIUnknown, "IUnknown"},         {&kIidIMAPIProp, "IMAPIProp"},
                                {&kIidIMailUser, "IMailUser"},       {&kIidIMAPITable, "IMAPITable"},
                                {&kIidIMAPISession, "IMAPISession"}, {&kIidIProfAdmin, "IProfAdmin"}};
  for (const Known& k : known)
    if (IsEqualGUID(iid, *k.iid)) return k.name;
  char text[40];
  std::snprintf(text, sizeof text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                iid.Data1, iid.Data2, iid.Data3, iid.Data4[0], iid.Data4[1], iid.Data4[2],
                iid.Data4[3], iid.Data4[4], iid.Data4[5], iid.Data4[6], iid.Data4[7]);
  return text;
}

}  // namespace sbx
