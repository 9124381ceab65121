// The accessible object of a link label: the label's standard client object, answering as a link.
// Screen readers learn from it that the label is a link and can open it. The accessibility and
// string libraries are loaded from the system folder when a reader first asks, never at start-up.
#include "about/link_accessible.h"
#include "about/about_dialog.h"
#include "host/module.h"
#include "res/resource.h"

#include <cstdint>
#include <new>
#include <oleacc.h>

namespace {

typedef HRESULT (WINAPI* CreateStandardObjectProc)(HWND window, LONG objectId, REFIID iid, void** object);
typedef LRESULT (WINAPI* ReferenceFromObjectProc)(REFIID iid, WPARAM wParam, LPUNKNOWN object);
typedef BSTR (WINAPI* AllocateStringProc)(const OLECHAR* text, UINT length);

const int ActionCapacity = 64;
const int NameCapacity = 300;

// What the objects need, looked up in this order; the last one found means all are there.
enum AccessibilityEntry : std::uint8_t { CreateStandardObject, ReferenceFromObject, AllocateString, AccessibilityEntryCount };
const struct { const char* library; const char* name; } AccessibilityEntryNames[AccessibilityEntryCount] = {
    {"oleacc.dll", "CreateStdAccessibleObject"},
    {"oleacc.dll", "LresultFromObject"},
    {"oleaut32.dll", "SysAllocStringLen"},
};
FARPROC AccessibilityEntries[AccessibilityEntryCount] = {};

// From FARPROC through the generic function type void (*)(), as help does.
template <typename Proc>
Proc Entry(AccessibilityEntry entry)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(AccessibilityEntries[entry]));
}

// The libraries stay loaded once loaded: a reader may keep an object as long as it likes.
bool LoadAccessibility()
{
    if (AccessibilityEntries[AllocateString])
        return true;
    for (int entry = 0; entry < AccessibilityEntryCount; ++entry) {
        HMODULE library = LoadSystemLibrary(AccessibilityEntryNames[entry].library);
        AccessibilityEntries[entry] = library ? GetProcAddress(library, AccessibilityEntryNames[entry].name) : nullptr;
        if (!AccessibilityEntries[entry])
            return false;  // tried again at the next request
    }
    return true;
}

// A text for the reader, allocated as the reader frees it.
HRESULT AnswerText(const wchar_t* text, int length, BSTR* answer)
{
    *answer = Entry<AllocateStringProc>(AllocateString)(text, length);
    return *answer ? S_OK : E_OUTOFMEMORY;
}

bool IsSelf(const VARIANT& child)
{
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// Answers role, state, name and default action itself, as a link; everything else (parent,
// location, hit test, navigation, focus, shortcut) is the standard object's.
class LinkLabelAccessible : public IAccessible {
public:
    LinkLabelAccessible(HWND label, IAccessible* standard) : references(1), label(label), standard(standard) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid != __uuidof(IUnknown) && iid != __uuidof(IDispatch) && iid != __uuidof(IAccessible)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&references);
        if (left == 0) {
            IAccessible* held = standard;
            this->~LinkLabelAccessible();
            HeapFree(GetProcessHeap(), 0, this);
            held->Release();
        }
        return left;
    }

    // No type information: readers call IAccessible directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        if (!IsSelf(child))
            return E_INVALIDARG;
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_LINK;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        if (!IsSelf(child))
            return E_INVALIDARG;
        HRESULT result = standard->get_accState(child, state);
        if (FAILED(result))
            return result;
        // A static reads as read-only text; a link is neither, and takes the focus with Tab.
        state->vt = VT_I4;
        state->lVal &= ~(STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSED);
        state->lVal |= STATE_SYSTEM_LINKED | STATE_SYSTEM_FOCUSABLE;
        if (GetFocus() == label)
            state->lVal |= STATE_SYSTEM_FOCUSED;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        if (!IsSelf(child))
            return E_INVALIDARG;
        wchar_t text[NameCapacity] = L"";
        return AnswerText(text, GetWindowTextW(label, text, NameCapacity), name);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        if (!IsSelf(child))
            return E_INVALIDARG;
        wchar_t verb[ActionCapacity] = L"";
        return AnswerText(verb, LoadStringW(ModuleInstance, LocalizedId(IDS_LINK_DEFAULT_ACTION), verb, ActionCapacity),
                          action);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        if (!IsSelf(child))
            return E_INVALIDARG;
        // Posted: a reader in another process waits for this call to return.
        return OpenLinkLabelLater(label) ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return standard->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        return standard->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return standard->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        return standard->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
    {
        return standard->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override
    {
        return standard->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        return standard->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override { return standard->get_accFocus(focus); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override
    {
        return standard->get_accSelection(selection);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG how, VARIANT child) override { return standard->accSelect(how, child); }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override
    {
        return standard->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override
    {
        return standard->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override
    {
        return standard->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return standard->put_accName(child, name); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return standard->put_accValue(child, value);
    }

private:
    ~LinkLabelAccessible() = default;

    LONG references;
    HWND label;
    IAccessible* standard;
};

} // namespace

LRESULT AnswerLinkLabelObject(HWND label, WPARAM wParam)
{
    if (!LoadAccessibility())
        return 0;
    IAccessible* standard = nullptr;
    if (FAILED(Entry<CreateStandardObjectProc>(CreateStandardObject)(label, OBJID_CLIENT, __uuidof(IAccessible),
                                                                     reinterpret_cast<void**>(&standard))))
        return 0;
    void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(LinkLabelAccessible));
    if (!memory) {
        standard->Release();
        return 0;
    }
    LinkLabelAccessible* link = new (memory) LinkLabelAccessible(label, standard);
    // The reference travels to the reader (marshalled, on a thread with COM); ours goes at once.
    LRESULT reference = Entry<ReferenceFromObjectProc>(ReferenceFromObject)(__uuidof(IAccessible), wParam, link);
    link->Release();
    return reference > 0 ? reference : 0;
}
