# The tests that some builds leave out, each with the reason, and the one function that
# registers the cases of a test program with CTest accordingly. Everything not named here
# runs in every build.

# --- The ARM build, whose tests run under qemu-arm -cpu arm1176 -------------------------
# Whole test programs. Besides these, every test program and helper that links the simulated
# hub (bwsim_hub), directly or through another library, stays native: the hub serves sysfs through FUSE, and there is no libfuse for
# the target here.
set(BW_NATIVE_ONLY_PROGRAMS
  # Starts the ARM program itself in a sandbox: the kernel cannot run it without a
  # binfmt_misc entry for qemu-arm.
  main_test
  # Starts the ARM record tool and python3 on its output: the same reason.
  record_test)

# Single cases, as GoogleTest filter patterns per test program: those that trap system
# calls with ptrace (qemu-user implements no ptrace) or force their results with a seccomp
# filter (which would meet the emulator's host system calls, not the program's).
set(BW_NATIVE_ONLY_CASES_run_test
  WaitForFile.AFailedWaitIsNotAttemptedAgain
  WaitForFile.TheLineIsOutBeforeTheWaitBegins)
set(BW_NATIVE_ONLY_CASES_rawio_test
  FileDescriptor.AnEmptyOwnerClosesNothingAndDescriptorZeroIsOwned
  WholeFile.AWriteThatTakesNothingRaisesInsteadOfSpinning
  WholeFile.AFailedCloseRaisesWithItsErrno
  DiscardInput.EagainAfterPollCountsAsNothingPending
  PollFailure.IsMappedWithThePollFallback
  NoProgress.WriteExactlyIsFalseWhenWriteTakesNothing
  DiscardInputOrThrow.EagainIsAFailure
  Failures.PollFailureIsAnException
  FileAwait.PresentEntryIsFoundWithoutAnInotifyInstance
  FileAwait.EntryCreatedAfterTheWatchIsFoundByItsEvent
  FileAwait.WithoutLimitTheEventStillEndsTheWait
  FileAwait.EntryCreatedBetweenTheFirstTestAndTheWatchIsFoundByTheSecondTest
  FileAwait.APrefixOfTheCreatedNameDoesNotMatch
  FileAwait.TimeoutZeroDoesNotWait
  FileAwait.RemovalOfTheDirectoryIsNoMatchAndTheDeadlineHolds
  FileAwait.PollFailuresAreReported
  FileAwait.APathOfMoreThan1023CharactersIsFoundOnlyByItsEvent)

# --- The sanitizer build (BW_SANITIZE) ------------------------------------------------
# These crash a child with SIGSEGV on purpose and expect it to die by that signal;
# AddressSanitizer's handler reports the signal and exits with status 1 instead.
set(BW_UNSANITIZED_CASES_sandbox_test Sandbox.CrashesHangsAndExceptionsFailTheTest)
set(BW_UNSANITIZED_CASES_hub_test HubTest.TeardownAfterTheProgramCrashesLeavesNothingBehind)
set(BW_UNSANITIZED_CASES_hub_tool_test HubToolRun.AProgramThatDoesNotWaitEndsTheToolWithOneLineSayingWhy)
# Its seccomp filter makes every write on one descriptor number take nothing, and the
# sanitizers' runtime tests memory by writing it into a pipe that gets that number later.
set(BW_UNSANITIZED_CASES_rawio_test NoProgress.WriteExactlyIsFalseWhenWriteTakesNothing)

# --- The coverage build (BW_COVERAGE) ---------------------------------------------------
# Their traps make close, or write on one descriptor number, fail for the rest of the child,
# and gcov's writing of the counts at its end meets them.
set(BW_UNCOUNTED_CASES_rawio_test
  FileDescriptor.AnEmptyOwnerClosesNothingAndDescriptorZeroIsOwned
  WholeFile.AWriteThatTakesNothingRaisesInsteadOfSpinning)

# Out-of-memory is a result the product handles: the sanitizers' allocator must answer a
# request too big with null, as the C library does, instead of stopping the program.
set(BW_SANITIZER_ENVIRONMENT
  "ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:allocator_may_return_null=1")

# Registers the GoogleTest cases of `name` with CTest, without those this build leaves out.
function(bw_discover_tests name)
  set(patterns)
  if(CMAKE_CROSSCOMPILING)
    list(APPEND patterns ${BW_NATIVE_ONLY_CASES_${name}})
  endif()
  set(environment)
  if(BW_SANITIZE)
    list(APPEND patterns ${BW_UNSANITIZED_CASES_${name}})
    set(environment ENVIRONMENT ${BW_SANITIZER_ENVIRONMENT})
  endif()
  if(BW_COVERAGE)
    list(APPEND patterns ${BW_UNCOUNTED_CASES_${name}})
  endif()
  set(filter)
  if(patterns)
    if(CMAKE_VERSION VERSION_LESS 3.22)
      message(FATAL_ERROR "Leaving test cases out needs CMake 3.22 or later")
    endif()
    list(JOIN patterns ":" joined)
    set(filter TEST_FILTER "-${joined}")
  endif()
  # Discovery runs the program too, which takes longer under emulation or the sanitizers.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${filter} PROPERTIES TIMEOUT 300 ${environment})
endfunction()

# Whether the targets or libraries `items` reach the simulated hub through their links.
function(bw_reaches_hub items result)
  set(todo ${items})
  set(seen)
  while(todo)
    list(POP_FRONT todo item)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
    if(item STREQUAL bwsim_hub)
      set(${result} TRUE PARENT_SCOPE)
      return()
    endif()
    if(TARGET ${item} AND NOT item IN_LIST seen)
      list(APPEND seen ${item})
      get_target_property(type ${item} TYPE)
      get_target_property(links ${item} INTERFACE_LINK_LIBRARIES)
      if(links)
        list(APPEND todo ${links})
      endif()
      if(NOT type STREQUAL INTERFACE_LIBRARY)
        get_target_property(links ${item} LINK_LIBRARIES)
        if(links)
          list(APPEND todo ${links})
        endif()
      endif()
    endif()
  endwhile()
  set(${result} FALSE PARENT_SCOPE)
endfunction()

# Whether the ARM build leaves the whole program `name`, linking `libraries`, out.
function(bw_native_only name libraries result)
  set(${result} FALSE PARENT_SCOPE)
  if(CMAKE_CROSSCOMPILING)
    bw_reaches_hub("${libraries}" hub)
    if(hub OR name IN_LIST BW_NATIVE_ONLY_PROGRAMS)
      set(${result} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

# In the ARM build, leaves out of `all` every target under `directory` that links the
# simulated hub, such as the test helpers built on it.
function(bw_leave_out_hub_users directory)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    bw_reaches_hub(${target} hub)
    if(hub)
      set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    bw_leave_out_hub_users(${subdirectory})
  endforeach()
endfunction()
