# Router device support: registers the device class with the management console.
proc router_register {console} {
    $console addClass router -icon router.ico -mib router.mib
}
