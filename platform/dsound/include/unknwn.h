// The base of every COM interface: reference counting and interface queries.
#pragma once

#include <windows.h>

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;  // objects are destroyed by their last Release
};
using LPUNKNOWN = IUnknown*;
