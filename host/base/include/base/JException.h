#pragma once
#include <exception>
#include <string>

class JException : public std::exception {
public:
  explicit JException(std::string message = "") : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& getMessage() const { return message_; }

private:
  std::string message_;
};

class JIOException : public JException {
public:
  using JException::JException;
};

class JSocketException : public JException {
public:
  using JException::JException;
};
