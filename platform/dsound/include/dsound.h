// The sound interfaces: devices, looping capture and playback buffers, and
// position notifications. Names, member layouts, method orders, signatures and
// result codes follow the Windows SDK, so program code compiles unchanged
// against either.
#pragma once

#include <mmsystem.h>
#include <unknwn.h>
#include <windows.h>

// Result codes: facility 0x878, plus the generic COM codes under their sound names.
#define _FACDS 0x878
#define MAKE_DSHRESULT(code) ((HRESULT)(0x80000000UL | (_FACDS << 16) | (code)))

#define DS_OK S_OK
#define DS_NO_VIRTUALIZATION ((HRESULT)0x0878000AL)
#define DSERR_ALLOCATED MAKE_DSHRESULT(10)
#define DSERR_CONTROLUNAVAIL MAKE_DSHRESULT(30)
#define DSERR_INVALIDPARAM E_INVALIDARG
#define DSERR_INVALIDCALL MAKE_DSHRESULT(50)
#define DSERR_GENERIC E_FAIL
#define DSERR_PRIOLEVELNEEDED MAKE_DSHRESULT(70)
#define DSERR_OUTOFMEMORY E_OUTOFMEMORY
#define DSERR_BADFORMAT MAKE_DSHRESULT(100)
#define DSERR_UNSUPPORTED E_NOTIMPL
#define DSERR_NODRIVER MAKE_DSHRESULT(120)
#define DSERR_ALREADYINITIALIZED MAKE_DSHRESULT(130)
#define DSERR_NOAGGREGATION ((HRESULT)0x80040110L)
#define DSERR_BUFFERLOST MAKE_DSHRESULT(150)
#define DSERR_OTHERAPPHASPRIO MAKE_DSHRESULT(160)
#define DSERR_UNINITIALIZED MAKE_DSHRESULT(170)
#define DSERR_NOINTERFACE E_NOINTERFACE
#define DSERR_ACCESSDENIED E_ACCESSDENIED
#define DSERR_BUFFERTOOSMALL MAKE_DSHRESULT(180)
#define DSERR_DS8_REQUIRED MAKE_DSHRESULT(190)
#define DSERR_SENDLOOP MAKE_DSHRESULT(200)
#define DSERR_BADSENDBUFFERGUID MAKE_DSHRESULT(210)
#define DSERR_FXUNAVAILABLE MAKE_DSHRESULT(220)
#define DSERR_OBJECTNOTFOUND MAKE_DSHRESULT(4449)

#define DSSCL_NORMAL 1
#define DSSCL_PRIORITY 2
#define DSSCL_EXCLUSIVE 3
#define DSSCL_WRITEPRIMARY 4

#define DSBPLAY_LOOPING 0x00000001
#define DSBSTATUS_PLAYING 0x00000001
#define DSBSTATUS_BUFFERLOST 0x00000002
#define DSBSTATUS_LOOPING 0x00000004

#define DSBLOCK_FROMWRITECURSOR 0x00000001
#define DSBLOCK_ENTIREBUFFER 0x00000002

#define DSBCAPS_PRIMARYBUFFER 0x00000001
#define DSBCAPS_STATIC 0x00000002
#define DSBCAPS_LOCHARDWARE 0x00000004
#define DSBCAPS_LOCSOFTWARE 0x00000008
#define DSBCAPS_CTRL3D 0x00000010
#define DSBCAPS_CTRLFREQUENCY 0x00000020
#define DSBCAPS_CTRLPAN 0x00000040
#define DSBCAPS_CTRLVOLUME 0x00000080
#define DSBCAPS_CTRLPOSITIONNOTIFY 0x00000100
#define DSBCAPS_CTRLFX 0x00000200
#define DSBCAPS_STICKYFOCUS 0x00004000
#define DSBCAPS_GLOBALFOCUS 0x00008000
#define DSBCAPS_GETCURRENTPOSITION2 0x00010000
#define DSBCAPS_MUTE3DATMAXDISTANCE 0x00020000
#define DSBCAPS_LOCDEFER 0x00040000

#define DSBSIZE_MIN 4
#define DSBSIZE_MAX 0x0FFFFFFF
#define DSBVOLUME_MAX 0
#define DSBVOLUME_MIN (-10000)
#define DSBFREQUENCY_MIN 100
#define DSBFREQUENCY_MAX 200000
#define DSBFREQUENCY_ORIGINAL 0

#define DSCBCAPS_WAVEMAPPED 0x80000000
#define DSCBCAPS_CTRLFX 0x00000200
#define DSCBLOCK_ENTIREBUFFER 0x00000001
#define DSCBSTART_LOOPING 0x00000001
#define DSCBSTATUS_CAPTURING 0x00000001
#define DSCBSTATUS_LOOPING 0x00000002

#define DSBPN_OFFSETSTOP 0xFFFFFFFF

struct DSCAPS {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwMinSecondarySampleRate;
  DWORD dwMaxSecondarySampleRate;
  DWORD dwPrimaryBuffers;
  DWORD dwMaxHwMixingAllBuffers;
  DWORD dwMaxHwMixingStaticBuffers;
  DWORD dwMaxHwMixingStreamingBuffers;
  DWORD dwFreeHwMixingAllBuffers;
  DWORD dwFreeHwMixingStaticBuffers;
  DWORD dwFreeHwMixingStreamingBuffers;
  DWORD dwMaxHw3DAllBuffers;
  DWORD dwMaxHw3DStaticBuffers;
  DWORD dwMaxHw3DStreamingBuffers;
  DWORD dwFreeHw3DAllBuffers;
  DWORD dwFreeHw3DStaticBuffers;
  DWORD dwFreeHw3DStreamingBuffers;
  DWORD dwTotalHwMemBytes;
  DWORD dwFreeHwMemBytes;
  DWORD dwMaxContigFreeHwMemBytes;
  DWORD dwUnlockTransferRateHwBuffers;
  DWORD dwPlayCpuOverheadSwBuffers;
  DWORD dwReserved1;
  DWORD dwReserved2;
};
using LPDSCAPS = DSCAPS*;
using LPCDSCAPS = const DSCAPS*;

struct DSBCAPS {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwUnlockTransferRate;
  DWORD dwPlayCpuOverhead;
};
using LPDSBCAPS = DSBCAPS*;
using LPCDSBCAPS = const DSBCAPS*;

// The first form, without the 3D algorithm.
struct DSBUFFERDESC1 {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  LPWAVEFORMATEX lpwfxFormat;
};
using LPDSBUFFERDESC1 = DSBUFFERDESC1*;
using LPCDSBUFFERDESC1 = const DSBUFFERDESC1*;

// 36 bytes where pointers are 32-bit, 40 where they are 64-bit.
struct DSBUFFERDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  LPWAVEFORMATEX lpwfxFormat;
  GUID guid3DAlgorithm;
};
static_assert(sizeof(DSBUFFERDESC) == (sizeof(void*) == 8 ? 40 : 36),
              "DSBUFFERDESC as in the Windows SDK");
using LPDSBUFFERDESC = DSBUFFERDESC*;
using LPCDSBUFFERDESC = const DSBUFFERDESC*;

struct DSBPOSITIONNOTIFY {
  DWORD dwOffset;
  HANDLE hEventNotify;
};
using LPDSBPOSITIONNOTIFY = DSBPOSITIONNOTIFY*;
using LPCDSBPOSITIONNOTIFY = const DSBPOSITIONNOTIFY*;

struct DSCEFFECTDESC {
  DWORD dwSize;
  DWORD dwFlags;
  GUID guidDSCFXClass;
  GUID guidDSCFXInstance;
  DWORD dwReserved1;
  DWORD dwReserved2;
};
using LPDSCEFFECTDESC = DSCEFFECTDESC*;
using LPCDSCEFFECTDESC = const DSCEFFECTDESC*;

// The first form, without the effect fields.
struct DSCBUFFERDESC1 {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  LPWAVEFORMATEX lpwfxFormat;
};
using LPDSCBUFFERDESC1 = DSCBUFFERDESC1*;

// 28 bytes where pointers are 32-bit, 40 where they are 64-bit.
struct DSCBUFFERDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  LPWAVEFORMATEX lpwfxFormat;
  DWORD dwFXCount;
  LPDSCEFFECTDESC lpDSCFXDesc;
};
static_assert(sizeof(DSCBUFFERDESC) == (sizeof(void*) == 8 ? 40 : 28),
              "DSCBUFFERDESC as in the Windows SDK");
using LPDSCBUFFERDESC = DSCBUFFERDESC*;
using LPCDSCBUFFERDESC = const DSCBUFFERDESC*;

struct DSCCAPS {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwFormats;
  DWORD dwChannels;
};
using LPDSCCAPS = DSCCAPS*;
using LPCDSCCAPS = const DSCCAPS*;

struct DSCBCAPS {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
};
using LPDSCBCAPS = DSCBCAPS*;
using LPCDSCBCAPS = const DSCBCAPS*;

struct IDirectSound;
struct IDirectSoundBuffer;
struct IDirectSoundCapture;
struct IDirectSoundCaptureBuffer;
struct IDirectSoundNotify;
using LPDIRECTSOUND = IDirectSound*;
using LPLPDIRECTSOUND = IDirectSound**;
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;
using LPLPDIRECTSOUNDBUFFER = IDirectSoundBuffer**;
using LPDIRECTSOUNDCAPTURE = IDirectSoundCapture*;
using LPLPDIRECTSOUNDCAPTURE = IDirectSoundCapture**;
using LPDIRECTSOUNDCAPTUREBUFFER = IDirectSoundCaptureBuffer*;
using LPLPDIRECTSOUNDCAPTUREBUFFER = IDirectSoundCaptureBuffer**;
using LPDIRECTSOUNDNOTIFY = IDirectSoundNotify*;
using LPLPDIRECTSOUNDNOTIFY = IDirectSoundNotify**;

// {B0210783-89CD-11D0-AF08-00A0C925CD16}
inline constexpr GUID IID_IDirectSoundNotify = {
    0xB0210783, 0x89CD, 0x11D0, {0xAF, 0x08, 0x00, 0xA0, 0xC9, 0x25, 0xCD, 0x16}};

struct IDirectSound : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateSoundBuffer(LPCDSBUFFERDESC pcDSBufferDesc,
                                                      LPDIRECTSOUNDBUFFER* ppDSBuffer,
                                                      LPUNKNOWN pUnkOuter) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCaps(LPDSCAPS pDSCaps) = 0;
  virtual HRESULT STDMETHODCALLTYPE DuplicateSoundBuffer(
      LPDIRECTSOUNDBUFFER pDSBufferOriginal, LPDIRECTSOUNDBUFFER* ppDSBufferDuplicate) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND hwnd, DWORD dwLevel) = 0;
  virtual HRESULT STDMETHODCALLTYPE Compact() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSpeakerConfig(LPDWORD pdwSpeakerConfig) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSpeakerConfig(DWORD dwSpeakerConfig) = 0;
  virtual HRESULT STDMETHODCALLTYPE Initialize(LPCGUID pcGuidDevice) = 0;

 protected:
  ~IDirectSound() = default;
};

struct IDirectSoundBuffer : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS pDSBufferCaps) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD pdwCurrentPlayCursor,
                                                       LPDWORD pdwCurrentWriteCursor) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX pwfxFormat, DWORD dwSizeAllocated,
                                              LPDWORD pdwSizeWritten) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVolume(LPLONG plVolume) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPan(LPLONG plPan) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFrequency(LPDWORD pdwFrequency) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD pdwStatus) = 0;
  virtual HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUND pDirectSound,
                                               LPCDSBUFFERDESC pcDSBufferDesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE Lock(DWORD dwOffset, DWORD dwBytes, LPVOID* ppvAudioPtr1,
                                         LPDWORD pdwAudioBytes1, LPVOID* ppvAudioPtr2,
                                         LPDWORD pdwAudioBytes2, DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Play(DWORD dwReserved1, DWORD dwPriority, DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCurrentPosition(DWORD dwNewPosition) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFormat(LPCWAVEFORMATEX pcfxFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetVolume(LONG lVolume) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPan(LONG lPan) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFrequency(DWORD dwFrequency) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unlock(LPVOID pvAudioPtr1, DWORD dwAudioBytes1,
                                           LPVOID pvAudioPtr2, DWORD dwAudioBytes2) = 0;
  virtual HRESULT STDMETHODCALLTYPE Restore() = 0;

 protected:
  ~IDirectSoundBuffer() = default;
};

struct IDirectSoundCapture : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateCaptureBuffer(LPCDSCBUFFERDESC pcDSCBufferDesc,
                                                        LPDIRECTSOUNDCAPTUREBUFFER* ppDSCBuffer,
                                                        LPUNKNOWN pUnkOuter) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCaps(LPDSCCAPS pDSCCaps) = 0;
  virtual HRESULT STDMETHODCALLTYPE Initialize(LPCGUID pcGuidDevice) = 0;

 protected:
  ~IDirectSoundCapture() = default;
};

struct IDirectSoundCaptureBuffer : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCaps(LPDSCBCAPS pDSCBCaps) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD pdwCapturePosition,
                                                       LPDWORD pdwReadPosition) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX pwfxFormat, DWORD dwSizeAllocated,
                                              LPDWORD pdwSizeWritten) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD pdwStatus) = 0;
  virtual HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUNDCAPTURE pDirectSoundCapture,
                                               LPCDSCBUFFERDESC pcDSCBufferDesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE Lock(DWORD dwOffset, DWORD dwBytes, LPVOID* ppvAudioPtr1,
                                         LPDWORD pdwAudioBytes1, LPVOID* ppvAudioPtr2,
                                         LPDWORD pdwAudioBytes2, DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Start(DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unlock(LPVOID pvAudioPtr1, DWORD dwAudioBytes1,
                                           LPVOID pvAudioPtr2, DWORD dwAudioBytes2) = 0;

 protected:
  ~IDirectSoundCaptureBuffer() = default;
};

struct IDirectSoundNotify : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE
  SetNotificationPositions(DWORD dwPositionNotifies, LPCDSBPOSITIONNOTIFY pcPositionNotifies) = 0;

 protected:
  ~IDirectSoundNotify() = default;
};

using LPDSENUMCALLBACKA = BOOL(CALLBACK*)(LPGUID lpGuid, LPCSTR lpcstrDescription,
                                          LPCSTR lpcstrModule, LPVOID lpContext);

HRESULT WINAPI DirectSoundCreate(LPCGUID pcGuidDevice, LPDIRECTSOUND* ppDS, LPUNKNOWN pUnkOuter);
HRESULT WINAPI DirectSoundEnumerateA(LPDSENUMCALLBACKA pDSEnumCallback, LPVOID pContext);
HRESULT WINAPI DirectSoundCaptureCreate(LPCGUID pcGuidDevice, LPDIRECTSOUNDCAPTURE* ppDSC,
                                        LPUNKNOWN pUnkOuter);
HRESULT WINAPI DirectSoundCaptureEnumerateA(LPDSENUMCALLBACKA pDSEnumCallback, LPVOID pContext);
