// Fitter: picks the driver information file for the running Windows version and hands it,
// with the first word of the command line, to the co-installer's install entry point.
// Every failure ends the program quietly with exit code 0.
#include <string>

#include "installer/fitter_args.h"
#include "platform/exception_guard.h"
#include "platform/module.h"
#include "platform/program.h"

namespace {

using InstallEntry = void(PLATFORM_STDCALL*)(void* window, void* instance, char* arguments, int showCommand);

void Run(int argc, char** argv) {
  const std::optional<std::string> token =
      platform::kCommandLineIsText
          ? fitter::FirstTokenOfText(platform::CommandLineTail().c_str(), platform::CharacterLength)
          : fitter::FirstTokenOfWords(argc - 1, argv + 1);
  if (!token) return;

  char program[fitter::kPathBytes];
  if (!platform::ProgramFilePath(program, sizeof program)) return;
  std::string folder = fitter::ProgramFolder(program, platform::kPathSeparator);
  if (!folder.empty() && folder.back() != platform::kPathSeparator) folder += platform::kPathSeparator;
  const std::optional<fitter::DriverPaths> paths = fitter::DriverFilePaths(folder, platform::kPathSeparator);
  if (!paths) return;
  // The XP subfolder is looked at only on Windows XP (5.1).
  const bool xp = platform::IsWindowsVersion(5, 1) && platform::PathExists(paths->xp.c_str());
  std::optional<std::string> text = fitter::BuildArgumentText(*token, xp ? paths->xp : paths->plain);
  if (!text) return;

  const platform::UniqueModule coinstaller(platform::LoadModule("oruvcapcoin.dll"));
  InstallEntry install = nullptr;
  if (coinstaller && platform::BindModuleSymbol(coinstaller.get(), "IntallQuillonDriver", &install))
    install(platform::ActiveWindow(), platform::ProgramInstance(), text->data(), platform::ProgramShowCommand());
}

}  // namespace

int main(int argc, char** argv) {
  platform::GuardedVoid([&] { Run(argc, argv); });
  return 0;
}
