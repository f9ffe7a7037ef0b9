# The layer check: reads a target graph written by `cmake --graphviz` and fails when a target
# depends on itself through others (a cycle) or on a target of a higher layer.
#
#   cmake -DGRAPH=<dot file> -DTARGET_FOLDERS=<file> -DLAYERS=<ARCHITECTURE.md> -P check_layers.cmake
#   cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<folder> -DGENERATOR=<name> [-DBUILD_TYPE=<type>]
#         [-DWITH_GUI=<ON|OFF>] [-DC_COMPILER=<path>] [-DCXX_COMPILER=<path>]
#         -DLAYERS=<ARCHITECTURE.md> -P check_layers.cmake
#
# The second form configures the tree afresh in WORK_DIR with --graphviz (and the build type, GUI
# option and compilers of the build that runs the check) and checks that graph.
# TARGET_FOLDERS holds one "target folder" line per target (the top CMakeLists.txt writes
# target_folders.txt into every build folder). The layers are the rows "| <n> | `<folder>/` |" of
# the table in LAYERS; a target belongs to the layer of the longest folder its own folder lies in.
# Targets named *_tests are exempt from the layer rule, not from the cycle rule. Targets of no
# folder (imported libraries, Qt's tools) are left out.

cmake_minimum_required(VERSION 3.25)

# ---- The graph ----------------------------------------------------------------------------------

if(NOT GRAPH)
  if(NOT SOURCE_DIR OR NOT WORK_DIR OR NOT GENERATOR)
    message(FATAL_ERROR "check_layers: give GRAPH and TARGET_FOLDERS, or SOURCE_DIR, WORK_DIR and GENERATOR")
  endif()
  set(configure_args "")
  foreach(pair IN ITEMS "BUILD_TYPE;CMAKE_BUILD_TYPE" "WITH_GUI;SOLVANE_WITH_GUI" "C_COMPILER;CMAKE_C_COMPILER"
                        "CXX_COMPILER;CMAKE_CXX_COMPILER")
    list(GET pair 0 given)
    list(GET pair 1 variable)
    if(DEFINED ${given})
      list(APPEND configure_args "-D${variable}=${${given}}")
    endif()
  endforeach()
  file(REMOVE_RECURSE ${WORK_DIR})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR} -G ${GENERATOR} ${configure_args}
            --graphviz=${WORK_DIR}/targets.dot
    RESULT_VARIABLE configured OUTPUT_VARIABLE configure_output ERROR_VARIABLE configure_output)
  if(NOT configured EQUAL 0)
    message(FATAL_ERROR "check_layers: configuring the tree failed:\n${configure_output}")
  endif()
  set(GRAPH ${WORK_DIR}/targets.dot)
  set(TARGET_FOLDERS ${WORK_DIR}/target_folders.txt)
endif()

# ---- Layers and folders -------------------------------------------------------------------------

file(STRINGS ${LAYERS} layer_rows REGEX "^\\| *[0-9]+ *\\| *`[^`]+` *\\|")
set(layer_folders "")
foreach(row IN LISTS layer_rows)
  string(REGEX MATCH "^\\| *([0-9]+) *\\| *`([^`]+)`" unused "${row}")
  set(layer ${CMAKE_MATCH_1})
  string(REGEX REPLACE "/$" "" folder "${CMAKE_MATCH_2}")
  set(layer_of_folder_${folder} ${layer})
  list(APPEND layer_folders ${folder})
endforeach()
if(NOT layer_folders)
  message(FATAL_ERROR "check_layers: no layer table in ${LAYERS}")
endif()

file(STRINGS ${TARGET_FOLDERS} folder_lines)
set(targets "")
foreach(line IN LISTS folder_lines)
  string(REPLACE " " ";" fields "${line}")
  list(LENGTH fields field_count)
  if(NOT field_count EQUAL 2)
    continue()
  endif()
  list(GET fields 0 target)
  list(GET fields 1 folder)
  # The deepest layer folder that holds the target's folder.
  set(best "")
  foreach(layer_folder IN LISTS layer_folders)
    string(FIND "${folder}/" "${layer_folder}/" at)
    if(at EQUAL 0)
      string(LENGTH "${layer_folder}" length)
      string(LENGTH "${best}" best_length)
      if(length GREATER best_length)
        set(best ${layer_folder})
      endif()
    endif()
  endforeach()
  if(best)
    set(layer_of_${target} ${layer_of_folder_${best}})
    set(folder_of_${target} ${folder})
    list(APPEND targets ${target})
  endif()
endforeach()

# ---- Edges between targets of the tree ----------------------------------------------------------

file(STRINGS ${GRAPH} node_lines REGEX "^ *\"node[0-9]+\" \\[ label = \"")
foreach(line IN LISTS node_lines)
  string(REGEX MATCH "\"(node[0-9]+)\" \\[ label = \"([^\"]*)\"" unused "${line}")
  set(label_of_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()

file(STRINGS ${GRAPH} edge_lines REGEX "^ *\"node[0-9]+\" -> \"node[0-9]+\"")
foreach(line IN LISTS edge_lines)
  string(REGEX MATCH "\"(node[0-9]+)\" -> \"(node[0-9]+)\"" unused "${line}")
  set(from "${label_of_${CMAKE_MATCH_1}}")
  set(to "${label_of_${CMAKE_MATCH_2}}")
  if(DEFINED layer_of_${from} AND DEFINED layer_of_${to} AND NOT from STREQUAL to)
    list(APPEND out_${from} ${to})
  endif()
endforeach()

set(faults "")

# ---- Cycles -------------------------------------------------------------------------------------
# Targets that depend on nothing left are dropped until none can be; each target that stays has a
# cycle ahead of it, so walking on from one along targets that stay closes a cycle. That cycle is
# reported and taken out, and the dropping starts again.

macro(drop_targets_without_cycles)
  set(dropped TRUE)
  while(dropped)
    set(dropped FALSE)
    set(kept "")
    foreach(target IN LISTS left)
      set(ahead FALSE)
      foreach(to IN LISTS out_${target})
        if(to IN_LIST left)
          set(ahead TRUE)
          break()
        endif()
      endforeach()
      if(ahead)
        list(APPEND kept ${target})
      else()
        set(dropped TRUE)
      endif()
    endforeach()
    set(left ${kept})
  endwhile()
endmacro()

set(left ${targets})
drop_targets_without_cycles()
while(left)
  list(GET left 0 at)
  set(path ${at})
  while(TRUE)
    foreach(to IN LISTS out_${at})
      if(to IN_LIST left)
        set(at ${to})
        break()
      endif()
    endforeach()
    if(at IN_LIST path)
      break()
    endif()
    list(APPEND path ${at})
  endwhile()
  list(FIND path ${at} start)
  list(SUBLIST path ${start} -1 cycle)
  list(REMOVE_ITEM left ${cycle})
  list(APPEND cycle ${at})
  list(JOIN cycle " -> " cycle_text)
  string(APPEND faults "cycle: ${cycle_text}\n")
  drop_targets_without_cycles()
endwhile()

# ---- Upward links -------------------------------------------------------------------------------

foreach(target IN LISTS targets)
  if(target MATCHES "_tests$")
    continue()
  endif()
  foreach(to IN LISTS out_${target})
    if(layer_of_${to} GREATER layer_of_${target})
      string(APPEND faults "upward: ${target} (${folder_of_${target}}, layer ${layer_of_${target}}) links "
                           "${to} (${folder_of_${to}}, layer ${layer_of_${to}})\n")
    endif()
  endforeach()
endforeach()

list(LENGTH targets target_count)
if(faults)
  message(FATAL_ERROR "check_layers: ${target_count} targets; the graph breaks the layers:\n${faults}")
endif()
message(STATUS "check_layers: ${target_count} targets, no cycle, no upward link")
