// What the sanitizers must not report: Mesa's software Vulkan driver, which
// is built without ThreadSanitizer, synchronises its queue thread in ways the
// tool cannot see. Races in the tool's and the platform's own code still
// count.

extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libvulkan_lvp.so\n"
           "race:libvulkan_lvp.so\n";
}
