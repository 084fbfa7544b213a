/* The connection as a C host sees it: a pointer to a table of function pointers, each taking
   the object first, in slot order. Slot 2 is the scalar deleting destructor. */
#include "client/c_host.h"

#include <stddef.h>
#include <stdint.h>

struct Connection;

struct ConnectionSlots {
  unsigned int (*GetDeviceCount)(struct Connection* self);
  void* (*CreateDevice)(struct Connection* self, int index);
  void* (*ScalarDeletingDestructor)(struct Connection* self, unsigned int flags);
};

struct Connection {
  const struct ConnectionSlots* slots;
};

struct Connection* VODICreate(void (*callback)(void* context), void* context);
void VODIDestroy(struct Connection* connection);
int VODIGetVersion(void);

static void CountNotification(void* context) { ++*(int*)context; }

int RunCHost(const struct CHostEnvironment* environment) {
  int notifications = 0;
  struct Connection* connection;
  uintptr_t address;

  if (VODIGetVersion() != 1) return 1;
  connection = VODICreate(CountNotification, &notifications);
  if (connection == NULL) return 2;
  /* Nothing is plugged in: no device to count or create. */
  if (connection->slots->GetDeviceCount(connection) != 0) return 3;
  if (connection->slots->CreateDevice(connection, 0) != NULL) return 4;
  environment->plugAudioDevice();
  environment->retrieveMessages();
  if (notifications != 1) return 5;
  if (!environment->windowClassRegistered()) return 6;
  /* Flags 1: destroy and free, as an MSVC host's delete does. */
  address = (uintptr_t)connection;
  if ((uintptr_t)connection->slots->ScalarDeletingDestructor(connection, 1) != address) return 7;
  if (environment->windowClassRegistered()) return 8;
  VODIDestroy(NULL);
  return 0;
}
