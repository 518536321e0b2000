// A host library on Windows is nothing but its ordinal table: every entry
// forwards to norvhost.dll, which the loader resolves when the plug-in loads.
// The module still needs one object of its own to link.
namespace {
[[maybe_unused]] constexpr int kForwardsOnly = 1;
}
