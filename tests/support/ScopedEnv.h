// Environment variables set or removed for the life of an object, then put back as they were.
#pragma once

#include <QByteArray>
#include <optional>
#include <utility>
#include <vector>

namespace zelnet::test {

// Sets (or, with nullopt, removes) environment variables for its life, then puts them back.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const char* name, std::optional<QByteArray> value) { Set(name, std::move(value)); }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        qputenv(it->first.constData(), *it->second);
      else
        qunsetenv(it->first.constData());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void Set(const char* name, std::optional<QByteArray> value) {
    saved_.emplace_back(
        name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    if (value)
      qputenv(name, *value);
    else
      qunsetenv(name);
  }

 private:
  std::vector<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
};

}  // namespace zelnet::test
