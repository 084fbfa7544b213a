// The connection a host gets from VODICreate: device questions by fresh enumeration, and a
// hidden message-only window that turns audio interface arrivals and removals into calls of
// the host's NotifyCallback.
#pragma once

#include "client/TarrowinHiddenMIDI.h"
#include "platform/win32.h"

class ClientConnection final : public TarrowinHiddenMIDI::Connection {
 public:
  // Stores the host's callback and context; window and notification stay unset (all bits set)
  // until OpenNotificationWindow.
  ClientConnection(TarrowinHiddenMIDI::NotifyCallback pfnCallback, void* pContext);
  // Unregisters the notification, destroys the window and unregisters the window class.
  ~ClientConnection();
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  // Creates the notification window on the calling thread and registers it for audio
  // interface events. Failures are not reported: the connection then never calls back.
  void OpenNotificationWindow();

  unsigned int GetDeviceCount() override;
  TarrowinHiddenMIDI::Device* CreateDevice(int index) override;
  void* ScalarDeletingDestructor(unsigned int flags) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  void RegisterForAudioInterfaces();
  // Unregisters the notification and destroys the window, first cutting the window's link to
  // this object. False when the window outlives the call (destroyed on a thread other than the
  // creator's) and neither its link nor its procedure could be changed: the callback is then
  // dropped and the object must not be freed.
  bool LetGoOfWindow();
  // After a failed DestroyWindow: the window stops running the library's procedure; true when
  // it no longer leads to this object.
  bool WindowCutLoose();

  TarrowinHiddenMIDI::NotifyCallback m_pfnCallback;
  void* m_pContext;
  HWND m_hWindow;
  HDEVNOTIFY m_hNotification;
};
