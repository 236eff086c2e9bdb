/* A port library that lacks most of the 51 functions: the driver must report it once. */
__declspec(dllexport) int TELX_Create_physical_port(const char* name) {
    return name ? 1 : 0;
}
