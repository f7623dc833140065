#include "registry/commands.h"

#include "containers/zlib_stream.h"
#include "registry/tool_command_headers.inc"

namespace registry {

const std::vector<cli::CommandSpec>& commands() {
    static const std::vector<cli::CommandSpec> all = [] {
        using List = std::vector<cli::CommandSpec> (*)();
        std::vector<cli::CommandSpec> specs;
        for (List list : std::initializer_list<List>{
#include "registry/tool_command_lists.inc"
             }) {
            auto tool = list();
            specs.insert(specs.end(), tool.begin(), tool.end());
        }
        return specs;
    }();
    return all;
}

std::string compressionLibrary() {
    return containers::compressionLibrary();
}

} // namespace registry
