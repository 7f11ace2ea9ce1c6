#pragma once
// Carries bytes to and from a serial device: what the device sends goes out on output 0 (from the
// port's reader thread), blocks arriving at input 0 are written to the device.
#include <mutex>
#include <string>

#include "base/JAtomic.h"
#include "base/JGuarded.h"
#include "base/JWorker.h"
#include "loom/JModuleObj.h"

class SerialPort : public JModuleObj {
public:
  SerialPort();
  ~SerialPort() override;
  const char* className() const override { return "SerialPort"; }
  JObject* clone() const override { return new SerialPort(*this); }
  void run() override;
  void startup() override;
  void reset() override { close(); }
  void close() override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;

  // Opens the device in raw mode at baud and starts reading it. A device that is not there yet
  // (unplugged, a replay not yet started) is said once and tried again every second by the
  // reader, which says when it opens; a rate the line cannot take is said and not tried again.
  bool isOpen() const { return dev_.fd.load() >= 0; }
  // A changed setting takes effect at once on an open device, or one still being waited for.
  void reopen();

  JString device;
  int baud;

private:
  // The reader's device and its wake-up: a copy of the module opens neither.
  struct Device {
    Device() = default;
    Device(const Device&) {}
    Device& operator=(const Device&) { return *this; }
    JAtomic<int> fd{-1};
    int wakeRead = -1, wakeWrite = -1;  // a pipe that stop() writes to, ending the reader's wait
    std::mutex writing;                 // held by a write, and by the reader closing a lost device
    std::string path;                   // the settings the reader opens with, taken at startup: a
    unsigned speed = 0;                 // change of setting restarts the reader
  };
  // Opens and configures the device; the reason it could not, or empty.
  std::string openDevice();
  // The reader's part: waits for the device to appear, then reads it until it is lost or stopped.
  bool waitForDevice();
  void loseDevice(const std::string& why);
  void closeDevice();

  JWorker reader_;
  Device dev_;
  JGuarded<JBlock> received_;  // the reader's last block, what output 0 hands out
};
