# What an installed toolkit holds beside its programs, and the Debian package of it all
# (cpack -G DEB in the build folder): the workflow with the run bits its scripts need, the study
# command under the toolkit's name, manual pages made from each program's --help, the README and
# the copyright file. DTI_PROGRAMS lists the programs.

include(GNUInstallDirs)
install(TARGETS ${DTI_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A name of the toolkit's own on the system's PATH; cohort.sh stays its name in the sources.
install(PROGRAMS scripts/cohort.sh DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME dti-cohort)
# The scheduler runs the Slurm profile's status script itself: it must stay executable.
install(DIRECTORY workflow/ DESTINATION ${CMAKE_INSTALL_DATADIR}/dtitoolkit/workflow
        USE_SOURCE_PERMISSIONS
        PATTERN "__pycache__" EXCLUDE
        PATTERN "node_modules" EXCLUDE)
# Of the NiiVue package (scripts/install-deps.sh installs it from npm), only its one-file browser
# bundle, beside the view script: the 3D QC views then need no network.
set(DTI_NIIVUE_BUNDLE ${CMAKE_SOURCE_DIR}/workflow/viewer/node_modules/@niivue/niivue/dist/niivue.umd.js)
install(CODE "if(NOT EXISTS \"${DTI_NIIVUE_BUNDLE}\")
  message(FATAL_ERROR \"NiiVue is not installed (${DTI_NIIVUE_BUNDLE} is missing): run scripts/install-deps.sh\")
endif()")
install(FILES ${DTI_NIIVUE_BUNDLE} DESTINATION ${CMAKE_INSTALL_DATADIR}/dtitoolkit/workflow/viewer)
install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages from each program's --help and --version, so that they never fall behind.
set(DTI_MAN_NAMES_tenscalc "diffusion tensor maps (FA, ADC, colour FA, eigen maps) of a diffusion acquisition")
set(DTI_MAN_NAMES_fiberwalk "follows white-matter fibers through a diffusion tensor field")
set(DTI_MAN_NAMES_trksmooth "smooths every track of a track file by a resampled cubic spline")
set(DTI_MAN_NAMES_dwiphantom "writes synthetic diffusion acquisitions with known ground truth")
set(DTI_MAN_NAMES_trkview "draws tracks over a map into a PNG picture")
set(DTI_MAN_NAMES_gradcheck "finds flipped or swapped axes of a gradient table by the tracks it gives")
set(DTI_MAN_NAMES_trkconvert "converts tracks between .trk, MRtrix3 .tck and TRX")
set(DTI_MAN_NAMES_trkprofile "selects a bundle and measures maps along its tracks (tract profiles)")
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(pages)
  foreach(program ${DTI_PROGRAMS})
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --section=1 "--name=${DTI_MAN_NAMES_${program}}"
              --output=${page} $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program}
      COMMENT "Manual page of ${program}"
      VERBATIM)
    list(APPEND pages ${page}.gz)
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: no manual pages (scripts/install-deps.sh installs it)")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dtitoolkit)
set(CPACK_PACKAGE_CONTACT "dtitoolkit developers <dtitoolkit@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Diffusion tensor maps, fiber tracking and track smoothing for diffusion MRI")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dti-cohort and the workflow's scripts run on Python; the workflow engine is recommended.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "snakemake")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
