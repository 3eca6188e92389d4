# Requests to the wineserver made by one process, from a trace of a server
# started with +server: the first process to connect (the program the trace
# was taken for). Waits whose number depends on timing are left out: select,
# get_message, set_queue_mask, get_message_reply, get_queue_status.
# Prints "total N", then "NAME N" for each request, with -v by_name=1.
#
# A thread belongs to the process named by its init_first_thread reply, or
# else to the process of the thread whose new_thread reply announced it.
match($0, /^[0-9a-f]+: /) {
  thread = substr($0, 1, RLENGTH - 2)
  rest = substr($0, RLENGTH + 1)
  if (rest ~ /^init_first_thread\(\) = 0 /) {
    match(rest, /pid=[0-9a-f]+/)
    owner[thread] = substr(rest, RSTART + 4, RLENGTH - 4)
    if (target == "") target = owner[thread]
    next
  }
  if (rest ~ /^new_thread\(\) = 0 /) {
    match(rest, /tid=[0-9a-f]+/)
    owner[substr(rest, RSTART + 4, RLENGTH - 4)] = owner[thread]
    next
  }
  if (target == "" || owner[thread] != target) next
  # A request reads "name( args )"; its reply "name() = status".
  if (!match(rest, /^[a-z_0-9]+\( /)) next
  name = substr(rest, 1, RLENGTH - 2)
  if (name ~ /^(select|get_message|set_queue_mask|get_message_reply|get_queue_status)$/) next
  total++
  count[name]++
}
END {
  print "total", total + 0
  if (by_name) for (name in count) print name, count[name]
}
