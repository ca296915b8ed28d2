#include "ProgramArguments.h"

void TProgramArguments::Keep(std::vector<std::string> strings) {
  strings_ = std::move(strings);
  pointers_.clear();
  for (std::string& text : strings_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
}
