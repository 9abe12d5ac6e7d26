# Cross build for the box (32-bit ARM) with Debian's crossbuild-essential-armhf and the armhf
# library packages, which multiarch installs under / beside the host's. Test programs run under
# qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# The cross root holds the C library; everything else (Qt, Boost, GoogleTest) is under /.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)

# The target's libraries are found at / as installed: pointing qemu at the cross root instead
# loads a second C library and every threaded program crashes in pthread_create.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm -L /)
