/* The connection as a C host sees it: a pointer to a table of function pointers, each taking
   the object first, in slot order. Slot 2 is the scalar deleting destructor. */
#include "client/c_host.h"

#include <stdatomic.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

struct Connection;
struct Device;
struct Input;
struct Output;

struct ConnectionSlots {
  unsigned int (*GetDeviceCount)(struct Connection* self);
  struct Device* (*CreateDevice)(struct Connection* self, int index);
  void* (*ScalarDeletingDestructor)(struct Connection* self, unsigned int flags);
};

struct Connection {
  const struct ConnectionSlots* slots;
};

struct DeviceSlots {
  void* (*ScalarDeletingDestructor)(struct Device* self, unsigned int flags);
  const char* (*GetName)(struct Device* self);
  int (*GetTypeCode)(struct Device* self);
  int (*GetProductId)(struct Device* self);
  int (*GetInputCount)(struct Device* self);
  int (*GetOutputCount)(struct Device* self);
  struct Input* (*OpenInput)(struct Device* self, int index);
  struct Output* (*OpenOutput)(struct Device* self, int index);
};

struct Device {
  const struct DeviceSlots* slots;
};

typedef void (*InputCallback)(const unsigned char* data, unsigned int count, void* context);

struct InputSlots {
  void* (*ScalarDeletingDestructor)(struct Input* self, unsigned int flags);
  struct Device* (*GetDevice)(struct Input* self);
  void (*SetCallback)(struct Input* self, InputCallback callback, void* context);
  bool (*IsPresent)(struct Input* self);
};

struct Input {
  const struct InputSlots* slots;
};

struct OutputSlots {
  void* (*ScalarDeletingDestructor)(struct Output* self, unsigned int flags);
  struct Device* (*GetDevice)(struct Output* self);
  bool (*Send)(struct Output* self, const unsigned char* bytes, int count);
  int (*GetStatus)(struct Output* self);
  bool (*IsPresent)(struct Output* self);
};

struct Output {
  const struct OutputSlots* slots;
};

struct Connection* VODICreate(void (*callback)(void* context), void* context);
void VODIDestroy(struct Connection* connection);
int VODIGetVersion(void);

static void CountNotification(void* context) { ++*(int*)context; }

static void CountBytes(const unsigned char* data, unsigned int count, void* context) {
  (void)data;
  atomic_fetch_add((atomic_uint*)context, count);
}

/* Every slot of a device and of its two ports; 0 when all behaved, else a step from 20 on. */
static int RunDevice(const struct CHostEnvironment* environment, struct Device* device) {
  static const unsigned char note[3] = {0x90, 0x3C, 0x64};
  atomic_uint received = 0;
  struct Input* input;
  struct Output* output;
  int waited;

  if (device->slots->GetName(device) == NULL) return 20;
  if (device->slots->GetTypeCode(device) != 67) return 21;
  if (device->slots->GetProductId(device) != 0x0A3C) return 22;
  if (device->slots->GetInputCount(device) != 1 || device->slots->GetOutputCount(device) != 1) return 23;
  input = device->slots->OpenInput(device, 0);
  output = device->slots->OpenOutput(device, 0);
  if (input == NULL || output == NULL) return 24;
  if (input->slots->GetDevice(input) != device || output->slots->GetDevice(output) != device) return 25;
  if (!input->slots->IsPresent(input) || !output->slots->IsPresent(output)) return 26;
  if (output->slots->GetStatus(output) != 0) return 27;
  input->slots->SetCallback(input, CountBytes, (void*)&received);
  if (!output->slots->Send(output, note, 3)) return 28;
  for (waited = 0; atomic_load(&received) < 3 && waited < 5000; ++waited) environment->pause();
  if (atomic_load(&received) != 3) return 29;
  input->slots->ScalarDeletingDestructor(input, 1);
  output->slots->ScalarDeletingDestructor(output, 1);
  device->slots->ScalarDeletingDestructor(device, 1);
  return 0;
}

int RunCHost(const struct CHostEnvironment* environment) {
  int notifications = 0;
  struct Connection* connection;
  uintptr_t address;
  struct Device* device;
  int step;

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
  if (connection->slots->GetDeviceCount(connection) != 1) return 9;
  device = connection->slots->CreateDevice(connection, 0);
  if (device == NULL) return 10;
  step = RunDevice(environment, device);
  if (step != 0) return step;
  /* Flags 1: destroy and free, as an MSVC host's delete does. */
  address = (uintptr_t)connection;
  if ((uintptr_t)connection->slots->ScalarDeletingDestructor(connection, 1) != address) return 7;
  if (environment->windowClassRegistered()) return 8;
  VODIDestroy(NULL);
  return 0;
}
