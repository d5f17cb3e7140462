#include "cli/copy_pair.h"

#include <new>

#include "tags/copy_tag.h"

namespace kestrane {

Outcome copy_pair(const std::string& input_path, const std::string& output_path, PairContext& context) {
    CopyContext copy_context{&context.would_be_written, &context.room, false, context.journal};
    try {
        return copy_tag(input_path, output_path, context.options, copy_context);
    } catch (const std::bad_alloc&) {
    }
    copy_context.alone = true;
    try {
        return copy_tag(input_path, output_path, context.options, copy_context);
    } catch (const std::bad_alloc&) {
        return Outcome::out_of_memory;
    }
}

}  // namespace kestrane
