# Debian packages, one per install component (ZorvikInstall.cmake):
#   zorvik        the static i386 ZORVIK        (architecture i386; without
#                 the i386 build, ZORVIK_I386 OFF, the x86-64 one: amd64)
#   zorvik        the static x86-64 ZORVIK      (architecture amd64; component zorvik_amd64)
#   tessvin       the EFI variable tool         (the build machine's)
#   zorvik-fwemu  the virtual platform          (the build machine's; needs busybox-static)
#   zorvik-dkms   the SMI module's sources      (all; DKMS builds and signs it)
# Built with `cpack -G DEB` in the build directory (tests/e2e/release
# builds them and checks them with lintian).

execute_process(COMMAND dpkg --print-architecture
  OUTPUT_VARIABLE ZORVIK_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(ZORVIK_DEB_ARCH STREQUAL "")
  set(ZORVIK_DEB_ARCH amd64)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarn")
set(CPACK_PACKAGE_CONTACT "ZORVIK maintainers <zorvik@tarn.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON) # tessvin and fwemu; ZORVIK is installed stripped, as a file
set(CPACK_COMPONENTS_ALL zorvik tessvin fwemu dkms)
if(TARGET zorvik_i386)
  list(APPEND CPACK_COMPONENTS_ALL zorvik_amd64)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_ZORVIK_PACKAGE_NAME zorvik)
set(CPACK_DEBIAN_ZORVIK_PACKAGE_SUGGESTS "gcc, make, zorvik-dkms")
set(ZORVIK_DEB_SUMMARY "read and change the firmware boot configuration
ZORVIK reads and changes the boot configuration of the machine it runs on
through the firmware's SMI calling interface: the legacy (BBS) boot
order, the UEFI boot options, the boot mode (legacy or
UEFI) and UEFI secure boot.
.")
set(ZORVIK_DEB_ROUTES "Where
the firmware reserves no memory hole it builds and loads a small helper
kernel module, which needs the running kernel's headers, gcc and make.
Where the kernel refuses I/O privilege (UEFI Secure Boot), it goes through
the signed SMI module of zorvik-dkms.")
set(ZORVIK_DEB_I386 "It is a static 32-bit x86 program for Linux and Android, run as root.")
set(ZORVIK_DEB_AMD64 "It is a static x86-64 program for Linux, run as root.")
# The package is labelled by the build it holds (ZorvikInstall.cmake).
if(TARGET zorvik_i386)
  set(CPACK_DEBIAN_ZORVIK_PACKAGE_ARCHITECTURE i386)
  set(CPACK_COMPONENT_ZORVIK_DESCRIPTION "${ZORVIK_DEB_SUMMARY}
${ZORVIK_DEB_I386} ${ZORVIK_DEB_ROUTES}")
else()
  set(CPACK_DEBIAN_ZORVIK_PACKAGE_ARCHITECTURE amd64)
  set(CPACK_COMPONENT_ZORVIK_DESCRIPTION "${ZORVIK_DEB_SUMMARY}
${ZORVIK_DEB_AMD64} ${ZORVIK_DEB_ROUTES}")
endif()

set(CPACK_DEBIAN_ZORVIK_AMD64_PACKAGE_NAME zorvik)
set(CPACK_DEBIAN_ZORVIK_AMD64_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_ZORVIK_AMD64_PACKAGE_SUGGESTS "gcc, make, zorvik-dkms")
set(CPACK_COMPONENT_ZORVIK_AMD64_DESCRIPTION "${ZORVIK_DEB_SUMMARY}
${ZORVIK_DEB_AMD64} ${ZORVIK_DEB_ROUTES}")

set(CPACK_DEBIAN_TESSVIN_PACKAGE_NAME tessvin)
set(CPACK_DEBIAN_TESSVIN_PACKAGE_ARCHITECTURE ${ZORVIK_DEB_ARCH})
set(CPACK_DEBIAN_TESSVIN_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_TESSVIN_DESCRIPTION "print or set one EFI variable
tessvin prints the value of one EFI variable, or sets it, creating it when
missing, through the kernel's EFI variable interface. Values are typed as
int, int16 or string.")

set(CPACK_DEBIAN_FWEMU_PACKAGE_NAME zorvik-fwemu)
set(CPACK_DEBIAN_FWEMU_PACKAGE_ARCHITECTURE ${ZORVIK_DEB_ARCH})
set(CPACK_DEBIAN_FWEMU_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FWEMU_PACKAGE_DEPENDS busybox-static)
set(CPACK_DEBIAN_FWEMU_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_FWEMU_DESCRIPTION "virtual platform with emulated firmware for ZORVIK
fwemu runs an unmodified static x86 program such as ZORVIK in a throwaway
root directory, traps its port writes and serves an emulated firmware
(ACPI tables, flash interface, SMI calling interface, boot configuration)
and physical memory, as described by a JSON platform file. It writes a
trace of every trapped event. Example platforms are included.
.
It is a test harness, not a security boundary, and needs root.")

set(CPACK_DEBIAN_DKMS_PACKAGE_NAME zorvik-dkms)
set(CPACK_DEBIAN_DKMS_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DKMS_PACKAGE_DEPENDS dkms)
set(CPACK_DEBIAN_DKMS_PACKAGE_SECTION kernel)
set(CPACK_DEBIAN_DKMS_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/packaging/zorvik-dkms/postinst ${PROJECT_BINARY_DIR}/packaging/zorvik-dkms/prerm)
set(CPACK_DEBIAN_DKMS_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_DKMS_DESCRIPTION "ZORVIK's SMI module for Secure Boot machines (DKMS)
The kernel module zorvik_smi lets ZORVIK reach the firmware on a kernel in
lockdown, as Linux distributions run it when UEFI Secure Boot is on: it
raises ZORVIK's SMIs on the firmware's SMI command ports, gives it a shared
buffer and read-only windows onto firmware memory, and refuses everything
else.
.
DKMS builds the module for every installed kernel and signs it with its
own key (/var/lib/dkms/mok.key). Enrol that key once with
'mokutil --import /var/lib/dkms/mok.pub' and a reboot; then
'modprobe zorvik_smi' loads it under Secure Boot.")

include(CPack)
