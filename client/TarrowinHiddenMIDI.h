// The hidden MIDI client library as a host sees it: five abstract interfaces reached through
// three exports. Hosts call the interfaces by slot, so the order of the virtual operations
// below is fixed; hosts built with MSVC and hosts built with GCC or Clang see the same tables.
// Includes no other header on MSVC and only <new> elsewhere, so a host can use it alone.
#pragma once

// On 32-bit x86 Windows the callbacks remove their own arguments (stdcall) and the exports
// leave that to the caller (cdecl); members are thiscall, the default of every x86 Windows
// compiler. Elsewhere there is one calling convention.
#if defined(_WIN32) && !defined(_WIN64)
#define TARROWIN_CALLBACK __stdcall
#define TARROWIN_EXPORT __cdecl
#else
#define TARROWIN_CALLBACK
#define TARROWIN_EXPORT
#endif

// MSVC gives a virtual destructor one slot, its scalar deleting destructor: it takes a flags
// word whose bit 0 asks it to free the object, and returns the object's address. GCC and Clang
// would give a destructor two slots and move every later operation, so for them the slot is
// declared as exactly that function, and a destroying operator delete calls it: `delete p`
// destroys and frees the object inside the library that made it. GCC and Clang still warn
// (-Wdelete-non-virtual-dtor) on such a delete; no destructor of the host's runs, so it does
// not apply.
#if defined(_MSC_VER)
#define TARROWIN_DESTRUCTOR_SLOT(Interface) \
 public:                                    \
  virtual ~Interface() {}
#else
#include <new>
#define TARROWIN_DESTRUCTOR_SLOT(Interface)                                                   \
 public:                                                                                      \
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;                             \
  void operator delete(Interface* object, std::destroying_delete_t) {                         \
    object->ScalarDeletingDestructor(TarrowinHiddenMIDI::kDeleteFreesMemory);                 \
  }
#endif

namespace TarrowinHiddenMIDI {

// Bit 0 of the scalar deleting destructor's flags: free the memory after destroying.
const unsigned int kDeleteFreesMemory = 1;

// Called once for every arrival and every removal of an audio device interface, on the
// thread that created the connection, while that thread retrieves its window messages (and
// never from inside a call of the library). Inside it a host may destroy its ports and
// devices, count and create again; it must not call VODIDestroy, nor destroy an input whose
// callback may be waiting for this thread (in a SendMessage to one of its windows): the
// input's destructor waits for that callback.
typedef void(TARROWIN_CALLBACK* NotifyCallback)(void* context);

// Called on an input's receive thread with the bytes of one received record; the bytes are
// valid only during the call. One call at a time per input; the next record is read only
// after the call returns, so return promptly.
//
// SetCallback replaces the callback and its context as one pair: a call uses either the old
// pair or the new one, never one of each. It returns at once, on any thread, without waiting
// for a call in progress and without processing any message. What a host may rely on:
// - after SetCallback returns, no call that starts later uses the old pair;
// - a call already running when SetCallback is made may finish with the old pair, so the old
//   context must stay valid until then;
// - to be sure that the old context is no longer in use, destroy the input: its destructor
//   returns only after the receive thread has ended.
//
// Inside the callback a host may:
// - copy the bytes, call Send on any output, and call SetCallback on this or any other input;
// - hand the bytes to another thread with SendMessage, also to a thread that calls
//   SetCallback on this input meanwhile, or from its window procedure.
// It must not:
// - destroy this input, or wait for a thread that is destroying it (the destructor waits
//   for the callback to return).
typedef void(TARROWIN_CALLBACK* InputCallback)(const unsigned char* data, unsigned int count, void* context);

class Device;

class Connection {
 public:
  virtual unsigned int GetDeviceCount() = 0;   // slot 0
  virtual Device* CreateDevice(int index) = 0;  // slot 1
  TARROWIN_DESTRUCTOR_SLOT(Connection)          // slot 2
};

class Input;
class Output;

class Device {
  TARROWIN_DESTRUCTOR_SLOT(Device)              // slot 0
  virtual const char* GetName() = 0;            // slot 1
  virtual int GetTypeCode() = 0;                // slot 2
  virtual int GetProductId() = 0;               // slot 3
  virtual int GetInputCount() = 0;              // slot 4
  virtual int GetOutputCount() = 0;             // slot 5
  virtual Input* OpenInput(int index) = 0;      // slot 6
  virtual Output* OpenOutput(int index) = 0;    // slot 7
};

class Port {
  TARROWIN_DESTRUCTOR_SLOT(Port)                // slot 0
  virtual Device* GetDevice() = 0;              // slot 1
};

class Input : public Port {
 public:
  virtual void SetCallback(InputCallback callback, void* context) = 0;  // slot 2
  virtual bool IsPresent() = 0;                                         // slot 3
};

class Output : public Port {
 public:
  virtual bool Send(const unsigned char* bytes, int count) = 0;  // slot 2
  virtual int GetStatus() = 0;                                   // slot 3
  virtual bool IsPresent() = 0;                                  // slot 4
};

// The exports, for hosts that resolve them with GetProcAddress.
typedef Connection*(TARROWIN_EXPORT* VODICreateFunction)(NotifyCallback callback, void* context);
typedef void(TARROWIN_EXPORT* VODIDestroyFunction)(Connection* connection);
typedef int(TARROWIN_EXPORT* VODIGetVersionFunction)();

}  // namespace TarrowinHiddenMIDI

extern "C" {
// A new connection that reports audio interface arrivals and removals to `callback` (which
// may be null); null only when the library cannot obtain memory.
TarrowinHiddenMIDI::Connection* TARROWIN_EXPORT VODICreate(TarrowinHiddenMIDI::NotifyCallback callback,
                                                           void* context);
// Destroys a connection made by VODICreate; null is ignored. Call it on the creating thread: on
// any other thread the notification window cannot be destroyed and is left behind, inert (it
// no longer runs the library's code, and no notification reaches the destroyed connection).
void TARROWIN_EXPORT VODIDestroy(TarrowinHiddenMIDI::Connection* connection);
// The version of this interface: 1.
int TARROWIN_EXPORT VODIGetVersion();
}

#undef TARROWIN_DESTRUCTOR_SLOT
