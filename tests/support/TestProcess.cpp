#include "TestProcess.h"

namespace testsupport {

int RunProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
               const std::string& workingDir, unsigned milliseconds) {
    ChildProcess child;
    if (!child.Start(args, extraEnv, workingDir))
        return -1;
    return child.Wait(milliseconds);
}

HMODULE ComponentModule() {
    static const HMODULE s_hModule = LoadLibraryA((ProgramDir() + ModuleFile("OrvexFileSource")).c_str());
    return s_hModule;
}

}  // namespace testsupport
