// The connection's notification window: creation, the window procedure and teardown.
#include "client/client_connection.h"

#include "client/deleting_destructor.h"

namespace {

const char kWindowClassName[] = "TarrowinVODINotify";

// The window and the notification hold this until they are created.
HWND UnsetWindow() { return reinterpret_cast<HWND>(INVALID_HANDLE_VALUE); }
HDEVNOTIFY UnsetNotification() { return reinterpret_cast<HDEVNOTIFY>(INVALID_HANDLE_VALUE); }

// This copy of the library. Window classes are kept per module: a plug-in host may load two
// copies (two folders, perhaps two versions), and each copy's windows must run its own window
// procedure, which the other copy's unloading does not take away.
HINSTANCE ThisLibrary() {
  static const char kAnAddressOfThisLibrary = 0;
  HMODULE module = NULL;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     &kAnAddressOfThisLibrary, &module);
  return module;
}

}  // namespace

ClientConnection::ClientConnection(TarrowinHiddenMIDI::NotifyCallback pfnCallback, void* pContext)
    : m_pfnCallback(pfnCallback), m_pContext(pContext), m_hWindow(UnsetWindow()), m_hNotification(UnsetNotification()) {}

void ClientConnection::OpenNotificationWindow() {
  HINSTANCE hInstance = ThisLibrary();

  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = 0;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = hInstance;
  windowClass.lpszClassName = kWindowClassName;
  // A second connection of this copy finds the class registered already and shares it.
  RegisterClassExA(&windowClass);

  m_hWindow = CreateWindowExA(0, kWindowClassName, NULL, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, HWND_MESSAGE, NULL, hInstance, NULL);
  SetWindowLongPtrA(m_hWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  RegisterForAudioInterfaces();
}

void ClientConnection::RegisterForAudioInterfaces() {
  DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
  filter.dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_A);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_reserved = 0;
  filter.dbcc_classguid = KSCATEGORY_AUDIO;
  filter.dbcc_name[0] = '\0';
  m_hNotification = RegisterDeviceNotificationA(m_hWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

LRESULT CALLBACK ClientConnection::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // Null while the window is being created, before the connection stores itself, and after
  // the connection is gone (a window that a destroy on the wrong thread could not destroy).
  ClientConnection* connection = reinterpret_cast<ClientConnection*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
  bool interfaceEvent = message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE);
  // Which interface it was is not passed on: the host counts and creates its devices again.
  if (interfaceEvent && connection != NULL && connection->m_pfnCallback != NULL)
    connection->m_pfnCallback(connection->m_pContext);
  return DefWindowProcA(hWnd, message, wParam, lParam);
}

bool ClientConnection::LetGoOfWindow() {
  if (m_hNotification != NULL) {
    UnregisterDeviceNotification(m_hNotification);
    m_hNotification = NULL;
  }
  if (m_hWindow == NULL) return true;
  // DestroyWindow fails on any thread but the creator's, and the window then lives on: it must
  // no longer lead to this object.
  SetWindowLongPtrA(m_hWindow, GWLP_USERDATA, 0);
  if (!DestroyWindow(m_hWindow) && !WindowCutLoose()) {
    m_pfnCallback = NULL;
    return false;
  }
  m_hWindow = NULL;
  return true;
}

bool ClientConnection::WindowCutLoose() {
  // The window outlives this object, and perhaps this copy of the library once the host frees
  // it: it stops running the library's procedure. Either that or the cleared link keeps it
  // from reaching this object.
  bool bProcedureReplaced =
      SetWindowLongPtrA(m_hWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA)) != 0;
  return bProcedureReplaced || GetWindowLongPtrA(m_hWindow, GWLP_USERDATA) != reinterpret_cast<LONG_PTR>(this);
}

ClientConnection::~ClientConnection() {
  LetGoOfWindow();
  // Fails while another connection's window still uses the class; that window keeps working.
  UnregisterClassA(kWindowClassName, ThisLibrary());
}

void* ClientConnection::ScalarDeletingDestructor(unsigned int flags) {
  // A window that could be neither destroyed nor cleared still leads here: the object stays,
  // inert, rather than be freed under it.
  if (!LetGoOfWindow()) return this;
  return DestroyAndMaybeFree(this, flags);
}
