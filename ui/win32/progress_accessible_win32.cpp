#include "ui/win32/progress_accessible_win32.h"

#include <oleacc.h>

#include <atomic>
#include <string>
#include <utility>

#include "platform/win32/system_library.h"

namespace quillwave {

// The few calls of the accessibility and COM libraries, found when a client
// first asks: a launch that nobody reads loads neither. Once all are found
// the libraries stay loaded for the rest of the process, since clients (and
// COM on their behalf) may call into the object after the window is gone.
struct AccessibilityLibrary {
  decltype(&::LresultFromObject) lresult_from_object = nullptr;
  decltype(&::CreateStdAccessibleObject) create_std_accessible_object = nullptr;
  decltype(&::CoInitializeEx) co_initialize_ex = nullptr;
  decltype(&::CoUninitialize) co_uninitialize = nullptr;
  decltype(&::SysAllocString) sys_alloc_string = nullptr;

  bool Load() {
    platform::UniqueModule oleacc = platform::LoadSystemLibrary(L"oleacc.dll");
    platform::UniqueModule ole32 = platform::LoadSystemLibrary(L"ole32.dll");
    platform::UniqueModule oleaut32 = platform::LoadSystemLibrary(L"oleaut32.dll");
    if (!oleacc.valid() || !ole32.valid() || !oleaut32.valid()) return false;
    Find(oleacc, "LresultFromObject", lresult_from_object);
    Find(oleacc, "CreateStdAccessibleObject", create_std_accessible_object);
    Find(ole32, "CoInitializeEx", co_initialize_ex);
    Find(ole32, "CoUninitialize", co_uninitialize);
    Find(oleaut32, "SysAllocString", sys_alloc_string);
    if (lresult_from_object == nullptr || create_std_accessible_object == nullptr || co_initialize_ex == nullptr ||
        co_uninitialize == nullptr || sys_alloc_string == nullptr) {
      return false;
    }
    for (platform::UniqueModule* kept : {&oleacc, &ole32, &oleaut32}) kept->Release();
    return true;
  }

 private:
  template <typename Function>
  static void Find(const platform::UniqueModule& module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module.get(), name)));
  }
};

namespace {

constexpr LONG kFirstItem = 1;  // child ids count from 1; 0 is the client area itself

VARIANT ChildId(LONG id) {
  VARIANT variant{};
  variant.vt = VT_I4;
  variant.lVal = id;
  return variant;
}

}  // namespace

// The client area's object. Items are simple elements (child ids), not
// objects of their own. Every call comes on the window's thread: the object
// lives in its single-threaded apartment.
class ProgressAccessible final : public IAccessible {
 public:
  ProgressAccessible(HWND window, ProgressAccessibleSource source, const AccessibilityLibrary& library,
                     IAccessible* standard)
      : window_(window), source_(std::move(source)), library_(library), standard_(standard) {}
  ProgressAccessible(const ProgressAccessible&) = delete;
  ProgressAccessible& operator=(const ProgressAccessible&) = delete;

  void Disconnect() {
    window_ = nullptr;
    source_ = {};
    if (standard_ != nullptr) std::exchange(standard_, nullptr)->Release();
  }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (id == __uuidof(IUnknown) || id == __uuidof(IDispatch) || id == __uuidof(IAccessible)) {
      *object = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      Disconnect();
      delete this;
    }
    return left;
  }

  // IDispatch: clients of this object call IAccessible directly.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (!Connected()) return RPC_E_DISCONNECTED;
    return standard_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    if (count == nullptr) return E_POINTER;
    if (!Connected()) return RPC_E_DISCONNECTED;
    *count = static_cast<LONG>(source_.items().size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!Connected()) return RPC_E_DISCONNECTED;
    return Item(child) >= 0 ? S_FALSE : E_INVALIDARG;  // a simple element: no object of its own
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    return Text(child, name, &IAccessible::get_accName, &AccessibleItem::name);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return ForSelf(child, value, &IAccessible::get_accValue);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    return Text(child, description, &IAccessible::get_accDescription, &AccessibleItem::description);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return Property(child, role, &IAccessible::get_accRole, ROLE_SYSTEM_STATICTEXT);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return Property(child, state, &IAccessible::get_accState, STATE_SYSTEM_READONLY);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return ForSelf(child, help, &IAccessible::get_accHelp);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    if (file != nullptr) *file = nullptr;
    if (!Connected()) return RPC_E_DISCONNECTED;
    if (!IsSelf(child)) return DISP_E_MEMBERNOTFOUND;
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return ForSelf(child, shortcut, &IAccessible::get_accKeyboardShortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (!Connected()) return RPC_E_DISCONNECTED;
    return standard_->get_accFocus(focus);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (!Connected()) return RPC_E_DISCONNECTED;
    return standard_->get_accSelection(selection);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return ForSelf(child, action, &IAccessible::get_accDefaultAction);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    if (!Connected()) return RPC_E_DISCONNECTED;
    return IsSelf(child) ? standard_->accSelect(flags, child) : DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_POINTER;
    if (!Connected()) return RPC_E_DISCONNECTED;
    if (IsSelf(child)) return standard_->accLocation(left, top, width, height, child);
    const int item = Item(child);
    if (item < 0) return E_INVALIDARG;
    const RECT box = source_.box(static_cast<std::size_t>(item));
    POINT origin{box.left, box.top};
    ::ClientToScreen(window_, &origin);
    *left = origin.x;
    *top = origin.y;
    *width = box.right - box.left;
    *height = box.bottom - box.top;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    if (end == nullptr) return E_POINTER;
    end->vt = VT_EMPTY;
    if (!Connected()) return RPC_E_DISCONNECTED;
    const LONG count = static_cast<LONG>(source_.items().size());
    if (IsSelf(start)) {
      if (direction == NAVDIR_FIRSTCHILD && count > 0) return *end = ChildId(kFirstItem), S_OK;
      if (direction == NAVDIR_LASTCHILD && count > 0) return *end = ChildId(count), S_OK;
      return standard_->accNavigate(direction, start, end);
    }
    const int item = Item(start);
    if (item < 0) return E_INVALIDARG;
    LONG next = 0;
    if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN) next = kFirstItem + item + 1;
    if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP) next = kFirstItem + item - 1;
    if (next < kFirstItem || next >= kFirstItem + count) return S_FALSE;
    *end = ChildId(next);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* hit) override {
    if (hit == nullptr) return E_POINTER;
    hit->vt = VT_EMPTY;
    if (!Connected()) return RPC_E_DISCONNECTED;
    POINT point{x, y};
    ::ScreenToClient(window_, &point);
    const std::size_t count = source_.items().size();
    for (std::size_t item = 0; item < count; ++item) {
      const RECT box = source_.box(item);
      if (::PtInRect(&box, point)) return *hit = ChildId(kFirstItem + static_cast<LONG>(item)), S_OK;
    }
    return standard_->accHitTest(x, y, hit);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    if (!Connected()) return RPC_E_DISCONNECTED;
    return IsSelf(child) ? standard_->accDoDefaultAction(child) : DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  ~ProgressAccessible() = default;

  bool Connected() const { return window_ != nullptr && standard_ != nullptr && ::IsWindow(window_); }
  static bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

  // The item index of a child id, or -1.
  int Item(const VARIANT& child) const {
    if (child.vt != VT_I4) return -1;
    const LONG count = static_cast<LONG>(source_.items().size());
    return child.lVal >= kFirstItem && child.lVal < kFirstItem + count ? static_cast<int>(child.lVal - kFirstItem) : -1;
  }

  using TextGetter = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);

  HRESULT ForSelf(VARIANT child, BSTR* text, TextGetter getter) {
    if (text == nullptr) return E_POINTER;
    *text = nullptr;
    if (!Connected()) return RPC_E_DISCONNECTED;
    return IsSelf(child) ? (standard_->*getter)(child, text) : DISP_E_MEMBERNOTFOUND;
  }

  HRESULT Text(VARIANT child, BSTR* text, TextGetter getter, std::wstring AccessibleItem::*field) {
    if (text == nullptr) return E_POINTER;
    *text = nullptr;
    if (!Connected()) return RPC_E_DISCONNECTED;
    if (IsSelf(child)) return (standard_->*getter)(child, text);
    const int item = Item(child);
    if (item < 0) return E_INVALIDARG;
    *text = library_.sys_alloc_string((source_.items()[static_cast<std::size_t>(item)].*field).c_str());
    return *text != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT Property(VARIANT child, VARIANT* value, HRESULT (STDMETHODCALLTYPE IAccessible::*getter)(VARIANT, VARIANT*),
                   LONG item_value) {
    if (value == nullptr) return E_POINTER;
    value->vt = VT_EMPTY;
    if (!Connected()) return RPC_E_DISCONNECTED;
    if (IsSelf(child)) return (standard_->*getter)(child, value);
    if (Item(child) < 0) return E_INVALIDARG;
    *value = ChildId(item_value);
    return S_OK;
  }

  std::atomic<ULONG> references_{1};
  HWND window_;
  ProgressAccessibleSource source_;
  AccessibilityLibrary library_;
  IAccessible* standard_;  // the system's object for the client area, owned: parent, focus, own state
};

ProgressAccessibleHost::~ProgressAccessibleHost() { Disconnect(); }

LRESULT ProgressAccessibleHost::Answer(HWND window, WPARAM wparam, LPARAM lparam,
                                       const ProgressAccessibleSource& source) {
  if (static_cast<LONG>(lparam) != static_cast<LONG>(OBJID_CLIENT)) return 0;
  if (object_ == nullptr) {
    AccessibilityLibrary library;
    if (!library.Load()) return 0;
    // Marshalling the object to a client needs COM on this thread.
    const HRESULT initialised = library.co_initialize_ex(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(initialised) && initialised != RPC_E_CHANGED_MODE) return 0;
    IAccessible* standard = nullptr;
    const HRESULT made = library.create_std_accessible_object(window, OBJID_CLIENT, __uuidof(IAccessible),
                                                              reinterpret_cast<void**>(&standard));
    if (FAILED(made) || standard == nullptr) {
      if (SUCCEEDED(initialised)) library.co_uninitialize();
      return 0;
    }
    com_initialised_ = SUCCEEDED(initialised);
    co_uninitialize_ = library.co_uninitialize;
    lresult_from_object_ = library.lresult_from_object;
    object_ = new ProgressAccessible(window, source, library, standard);
  }
  return lresult_from_object_(__uuidof(IAccessible), wparam, object_);
}

void ProgressAccessibleHost::StepChanged(HWND window, std::size_t step) const {
  ::NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, window, OBJID_CLIENT, kFirstItem + 1 + static_cast<LONG>(step));
}

void ProgressAccessibleHost::Disconnect() {
  if (object_ != nullptr) {
    object_->Disconnect();
    std::exchange(object_, nullptr)->Release();
  }
  if (com_initialised_) co_uninitialize_();
  com_initialised_ = false;
}

}  // namespace quillwave
