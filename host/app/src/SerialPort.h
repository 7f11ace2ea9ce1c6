#pragma once
// Carries bytes to and from a serial device: what the device sends goes out on output 0 (from the
// port's reader thread), blocks arriving at input 0 are written to the device.
#include <atomic>

#include "base/JThread.h"
#include "loom/JModuleObj.h"

class SerialPort : public JModuleObj {
public:
  SerialPort();
  SerialPort(const SerialPort& o);
  ~SerialPort() override;
  const char* className() const override { return "SerialPort"; }
  JObject* clone() const override { return new SerialPort(*this); }
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  void run() override;
  void startup() override;
  void reset() override { close(); }
  void close() override;
  JArray getProperties() override;
  bool updateProperty(JProperty& p) override;
  JString inputTag(int) override { return "bytes to device"; }
  JString outputTag(int) override { return "bytes from device"; }
  int inputType(int) override { return JBytesData::id; }
  int outputType(int) override { return JBytesData::id; }
  bool inputAllowed(int n) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;

  // Opens the device in raw mode at baud; false with a debug line when it cannot.
  bool open();
  bool isOpen() const { return fd_.load() >= 0; }

  JString device;
  int baud = 9600;

private:
  std::atomic<int> fd_{-1};
  std::atomic<bool> running_{false};
  JThread reader_;
  JCriticalSection lock_;  // guards received_
  JBlock received_;
};
