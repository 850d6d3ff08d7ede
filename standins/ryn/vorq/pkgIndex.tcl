package ifneeded vorq 1.0 [list source [file join $dir vorq.tcl]]
