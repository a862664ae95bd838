' The automation wrapper on Axolent.Orvane itself: its status, and a group's update rate as the
' server revises it. cscript under Wine reports no script errors: only the last line tells.
Option Explicit

Dim srv, grp

Sub Check(condition, text)
    If Not condition Then
        WScript.Echo "FAILED: " & text
        If IsObject(srv) Then srv.Disconnect
        WScript.Quit 1
    End If
End Sub

' The drives start from their configured values; the simulator stays up while this script runs.
Dim sim
Set sim = CreateObject("vkOPC.OPCAutoServer")
sim.Connect "Orvane.BusSimulator"
sim.OPCGroups.Add("Reset").OPCItems.AddItem("Sim/Reset", 1).Write True

Set srv = CreateObject("vkOPC.OPCAutoServer")
srv.Connect "Axolent.Orvane"
Check srv.ServerState = 1, "ServerState of Axolent.Orvane is " & srv.ServerState
Check InStr(srv.VendorInfo, "Axolent") > 0, "VendorInfo is " & srv.VendorInfo
Check VarType(srv.StartTime) = vbDate, "StartTime is no date"

Set grp = srv.OPCGroups.Add("Skript")
grp.UpdateRate = 1010
Check grp.UpdateRate = 1050, "UpdateRate 1010 reads back " & grp.UpdateRate

' Drive parameter 1000 of DP/Slave3/, axis 1: VT_UI2 on the server, VT_I4 for a script.
Dim speed, value, quality
Set speed = grp.OPCItems.AddItem("Orvane_BusSimulator/DP_Slave3_/1/pari1000d18", 1)
speed.Read 2, value, quality
Check value = 1500, "pari1000d18 reads " & value
Check VarType(value) = 3, "pari1000d18 has VarType " & VarType(value)
Check quality = 192, "pari1000d18 has quality " & quality

srv.Disconnect
Check srv.ServerState = 6, "ServerState after Disconnect is " & srv.ServerState
Set srv = Nothing
sim.Disconnect
WScript.Echo "AUTOMATION-SCRIPT-OK"
